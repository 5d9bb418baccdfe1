// Readiness and state datagrams to the service manager (NOTIFY_SOCKET).
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string>

#include "axo/base/trk1.h"
#include "axo/process/axo.h"

TRK1_UNIT(axonotify_unit, "AXONOTIFY");

int AXO_Notify(const std::string& state) {
  const char* name = getenv("NOTIFY_SOCKET");
  if (name == nullptr || name[0] == '\0') return 0;
  struct sockaddr_un addr = {};
  addr.sun_family = AF_UNIX;
  const size_t len = strlen(name);
  // An abstract name ('@' for its leading NUL byte) has no terminator.
  if ((name[0] != '/' && name[0] != '@') || len >= sizeof(addr.sun_path)) {
    TRK1_Printf(&axonotify_unit, __LINE__, "AXO0020E NOTIFY_SOCKET is not a socket name: %s", name);
    return -1;
  }
  memcpy(addr.sun_path, name, len);
  if (name[0] == '@') addr.sun_path[0] = '\0';
  const socklen_t addr_len = static_cast<socklen_t>(offsetof(struct sockaddr_un, sun_path) + len +
                                                    (name[0] == '@' ? 0 : 1));
  const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  ssize_t sent = -1;
  if (fd >= 0) {
    sent = sendto(fd, state.data(), state.size(), MSG_NOSIGNAL,
                  reinterpret_cast<const struct sockaddr*>(&addr), addr_len);
    close(fd);
  }
  if (sent != static_cast<ssize_t>(state.size())) {
    TRK1_Printf(&axonotify_unit, __LINE__, "AXO0021E Cannot notify the service manager at %s: %s",
                name, strerror(errno));
    return -1;
  }
  TRK1_Trace(&axonotify_unit, TRK1_DETAIL, "Notified the service manager: %s", state.c_str());
  return 1;
}
