# The Debian package (`make package`): the programs, the systemd unit, the
# options file and base-directory file in /etc, the Prometheus rules and
# the manual pages, with maintainer scripts that create the service's user
# and install tree. Included from the top-level CMakeLists.txt.

set(ZEP_PACKAGE_VERSION "1.1.0")
set(ZEP_DEBIAN_DIR ${CMAKE_SOURCE_DIR}/deploy/debian)

# Manual pages and the changelog are shipped compressed, reproducibly.
set(ZEP_GZIPPED "")
foreach(page deploy/man/zepagent.8 deploy/man/zepconsole.1 deploy/man/zepdcsim.1
             deploy/debian/changelog)
  get_filename_component(name ${page} NAME)
  set(out ${CMAKE_BINARY_DIR}/man/${name}.gz)
  add_custom_command(OUTPUT ${out}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
    COMMAND gzip -9n -c ${CMAKE_SOURCE_DIR}/${page} > ${out}
    DEPENDS ${CMAKE_SOURCE_DIR}/${page} VERBATIM)
  list(APPEND ZEP_GZIPPED ${out})
endforeach()
add_custom_target(manpages ALL DEPENDS ${ZEP_GZIPPED})

install(TARGETS zepagent RUNTIME DESTINATION sbin)
install(TARGETS zepconsole zepdcsim RUNTIME DESTINATION bin)
install(FILES ${CMAKE_BINARY_DIR}/man/zepagent.8.gz DESTINATION share/man/man8)
install(FILES ${CMAKE_BINARY_DIR}/man/zepconsole.1.gz ${CMAKE_BINARY_DIR}/man/zepdcsim.1.gz
  DESTINATION share/man/man1)
install(FILES ${CMAKE_BINARY_DIR}/man/changelog.gz ${ZEP_DEBIAN_DIR}/copyright
  DESTINATION share/doc/zepagent)
install(DIRECTORY deploy/prometheus/ DESTINATION share/zepagent/prometheus)
install(FILES deploy/systemd/zepagent.service DESTINATION /lib/systemd/system)
install(FILES ${ZEP_DEBIAN_DIR}/zepagent.conf DESTINATION /etc/zepagent)
install(FILES ${ZEP_DEBIAN_DIR}/ZEPBaseDirConfig.properties DESTINATION /etc)

# `make package` builds the programs first; cpack need not build the tests.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY TRUE)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zepagent)
set(CPACK_PACKAGE_VERSION ${ZEP_PACKAGE_VERSION})
set(CPACK_PACKAGE_CONTACT "zepagent maintainers <zepagent@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "service monitoring agent")
set(CPACK_PACKAGE_DESCRIPTION
  "The agent reads the metric log files of data collectors, computes\nper-service aggregates and situations, and answers them through an HTTP\noperator API with Prometheus metrics. It runs as a hardened systemd\nservice with its options in /etc/zepagent/zepagent.conf.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES TRUE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "adduser")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
  ${ZEP_DEBIAN_DIR}/conffiles ${ZEP_DEBIAN_DIR}/postinst ${ZEP_DEBIAN_DIR}/prerm
  ${ZEP_DEBIAN_DIR}/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
include(CPack)
