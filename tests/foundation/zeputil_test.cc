// Install paths: where the etc directory comes from, and the fall-backs of
// the install, configuration and log directory names.
#include "foundation/zeputil.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <string>

#include "axo/trk1.h"
#include "foundation/zeptestdir.h"

namespace {

class ZepUtilTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ZEPUTIL::setEtcDirForTesting(etc_.dir().c_str());
    ZEPUTIL::setTmpDirForTesting(tmp_.dir().c_str());
  }
  void TearDown() override {
    ZEPUTIL::setEtcDirForTesting(nullptr);
    ZEPUTIL::setTmpDirForTesting(nullptr);
  }

  static std::string Get(char* (*fn)(char*)) {
    char buffer[ZEPUTIL::PATH_SIZE];
    return fn(buffer);
  }

  ZepTestDir etc_;
  ZepTestDir tmp_;
  TRK1_Capture capture_;
};

TEST_F(ZepUtilTest, WithoutBaseDirFileEverythingLivesUnderTmp) {
  EXPECT_EQ(Get(ZEPUTIL::getInstallDirectory), tmp_.dir());
  EXPECT_TRUE(capture_.contains("ZEP0252E Could not find install directory. Using tmp dir " +
                                tmp_.dir()));
  EXPECT_EQ(Get(ZEPUTIL::getConfigFileName), tmp_.dir() + "/ZEP/config/ZEP.dc.properties");
  EXPECT_EQ(Get(ZEPUTIL::getLogDirName), tmp_.dir() + "/ZEP/logs");
  // Looking the paths up creates no files.
  EXPECT_FALSE(etc_.exists("ZEPBaseDirConfig.properties"));
  EXPECT_FALSE(tmp_.exists("ZEP"));

  // A base-directory file without INSTALLDIR falls back the same way.
  etc_.write("ZEPBaseDirConfig.properties", "OTHER=/x\n");
  EXPECT_EQ(Get(ZEPUTIL::getInstallDirectory), tmp_.dir());
}

TEST_F(ZepUtilTest, InstallDirAndLogDirComeFromTheirFiles) {
  const std::string install = tmp_.path("inst");
  etc_.write("ZEPBaseDirConfig.properties", "INSTALLDIR=" + install + "/\n");
  TRK1_SetLevel("ZEPUTIL", TRK1_DETAIL | TRK1_ERROR);
  EXPECT_EQ(Get(ZEPUTIL::getInstallDirectory), install + "/");
  EXPECT_TRUE(capture_.contains("ZEP0253I Installation directory name is " + install + "/"));
  EXPECT_FALSE(capture_.contains("ZEP0252E"));
  // No second separator after a value that ends with one.
  EXPECT_EQ(Get(ZEPUTIL::getConfigFileName), install + "/ZEP/config/ZEP.dc.properties");
  EXPECT_EQ(Get(ZEPUTIL::getLogDirName), install + "/ZEP/logs");

  ASSERT_EQ(mkdir(install.c_str(), 0775), 0);
  ASSERT_EQ(mkdir((install + "/ZEP").c_str(), 0775), 0);
  ASSERT_EQ(mkdir((install + "/ZEP/config").c_str(), 0775), 0);
  tmp_.write("inst/ZEP/config/ZEP.dc.properties", "dc.logging.directory=/var/dc logs\n");
  EXPECT_EQ(Get(ZEPUTIL::getLogDirName), "/var/dc logs");  // exactly as written
  EXPECT_TRUE(capture_.contains("ZEP0254I Log directory name is /var/dc logs"));
  TRK1_ResetLevels();
}

TEST_F(ZepUtilTest, EtcDirComesFromSetterThenEnvironmentThenBuild) {
  EXPECT_EQ(Get(ZEPUTIL::getEtcDir), etc_.dir());
  ZEPUTIL::setEtcDirForTesting(nullptr);
  const char* saved = getenv("ZEP_ETC_DIR");
  const std::string saved_value = saved != nullptr ? saved : "";
  setenv("ZEP_ETC_DIR", "/demo/etc", 1);
  EXPECT_EQ(Get(ZEPUTIL::getEtcDir), "/demo/etc");
  unsetenv("ZEP_ETC_DIR");
  EXPECT_EQ(Get(ZEPUTIL::getEtcDir), ZEP_ETC_DIR);
  if (saved != nullptr) setenv("ZEP_ETC_DIR", saved_value.c_str(), 1);
  ZEPUTIL::setTmpDirForTesting(nullptr);
  EXPECT_EQ(Get(ZEPUTIL::getTmpDir), "/tmp");
}

}  // namespace
