// Install paths: the fall-backs of the install, configuration and log
// directory names. (The paths read from the files are what every install
// tree fixture relies on.)
#include "foundation/zeputil.h"

#include <gtest/gtest.h>

#include "axo/base/env.h"
#include "axo/base/trk1.h"
#include "support/fake_env.h"
#include "support/zeptestdir.h"

namespace {

std::string Get(char* (*fn)(char*)) {
  char buffer[ZEPUTIL::PATH_SIZE];
  return fn(buffer);
}

TEST(ZepUtilTest, InstallDirFallsBackToTmpAndLogDirToTheConfiguration) {
  ZepTestDir etc, tmp;
  zeptest::FakeEnv env;
  axo::ScopedEnv useEnv(&env);
  env.SetEtcDir(etc.dir());
  env.SetTmpDir(tmp.dir());
  TRK1_Capture capture;
  for (const char* baseFile : {"", "OTHER=/x\n"}) {  // missing, or without INSTALLDIR
    if (baseFile[0] != '\0') etc.write("ZEPBaseDirConfig.properties", baseFile);
    EXPECT_EQ(Get(ZEPUTIL::getInstallDirectory), tmp.dir());
    EXPECT_EQ(Get(ZEPUTIL::getConfigFileName), tmp.dir() + "/ZEP/config/ZEP.dc.properties");
    EXPECT_EQ(Get(ZEPUTIL::getLogDirName), tmp.dir() + "/ZEP/logs");
  }
  EXPECT_TRUE(
      capture.contains("ZEP0252E Could not find install directory. Using tmp dir " + tmp.dir()));
  EXPECT_FALSE(tmp.exists("ZEP"));  // looking paths up creates nothing
  // No second separator after a value that ends with one; the log
  // directory exactly as the configuration writes it.
  etc.write("ZEPBaseDirConfig.properties", "INSTALLDIR=" + tmp.dir() + "/\n");
  EXPECT_EQ(Get(ZEPUTIL::getConfigFileName), tmp.dir() + "/ZEP/config/ZEP.dc.properties");
  std::filesystem::create_directories(tmp.path("ZEP/config"));
  tmp.write("ZEP/config/ZEP.dc.properties", "dc.logging.directory=/var/dc logs\n");
  EXPECT_EQ(Get(ZEPUTIL::getLogDirName), "/var/dc logs");
}

}  // namespace
