// The cache and archive subdirectories of the metric log list: set up before
// the log directory exists, and owned by another user.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "axo/axo.h"
#include "axo/trk1.h"
#include "foundation/zepport.h"
#include "foundation/zepprops.h"
#include "logs/zepdclst.h"
#include "logs/zeplogs_test_util.h"
#include "runtime/zepcmd.h"

namespace {

using namespace zeplogs_test;

class ZepDcLstDirsTest : public ZepLogsTest {
 protected:
  void SetUp() override {
    ZepLogsTest::SetUp();
    props_.setPropertyFilename(configFile().c_str());
    list_.setSubnodeRegistrar(&zepRegisterSubnode);
  }
  void TearDown() override {
    ZEPPORT::setEffectiveUidForTesting(-1);
    AXO_SetSubnodeResultsForTesting(0, 0);
    ZepLogsTest::TearDown();
  }
  static uid_t ownerOf(const std::string& path) {
    struct stat st;
    EXPECT_EQ(lstat(path.c_str(), &st), 0) << path;
    return st.st_uid;
  }

  ZEPPROPS_properties props_;
  ZEPDCLST_DCMetricsLogList list_;
};

// The usual first start: the data collectors create the log directory after
// the agent set up its list.
TEST_F(ZepDcLstDirsTest, ListingsRecoverOnceTheLogDirectoryExists) {
  std::filesystem::remove_all(logDir());
  list_.setDirectoryName(logDir().c_str());
  std::filesystem::create_directories(archiveDir());
  tmp_.write("install/ZEP/logs/ZEP.DCA.CACHE/archive/ZEP.old.metric.log.1-CA", "x");
  tmp_.setMtime("install/ZEP/logs/ZEP.DCA.CACHE/archive/ZEP.old.metric.log.1-CA",
                kBaseTime - 1441 * 60);
  tmp_.write("install/ZEP/logs/ZEP.DCA.CACHE/ZEP.a.metric.log.1060328134609000-CA",
             header("server1") + lines({record(2, kBaseTime * 1000LL)}));

  TRK1_Capture capture;
  EXPECT_EQ(list_.readCachedLogs(props_), 0);
  EXPECT_EQ(list_.getNumMetricsRecords(), 1);
  EXPECT_EQ(list_.purgeArchive(props_), 0);
  EXPECT_TRUE(filesIn(archiveDir()).empty());
  EXPECT_FALSE(capture.contains("ZEP0352E"));
}

// The ownership check keeps the agent from moving files into a directory
// another user controls. Root may use such a directory; a symbolic link is
// refused whoever runs the agent; a refusal names its real cause.
TEST_F(ZepDcLstDirsTest, OwnershipOfTheCacheAsRootAndAsAnotherUser) {
  list_.setDirectoryName(logDir().c_str());
  // Owned by someone other than root (a non-root test process owns it).
  if (geteuid() == 0) {
    ASSERT_EQ(lchown(cacheDir().c_str(), 4243, static_cast<gid_t>(-1)), 0);
  }
  const uid_t owner = ownerOf(cacheDir());
  ASSERT_NE(owner, 0u);

  ZEPPORT::setEffectiveUidForTesting(0);
  writeLog("ZEP.a.metric.log", header("server1") + lines({record(2, kBaseTime * 1000LL)}));
  EXPECT_EQ(list_.readLogs(props_), 0);
  EXPECT_EQ(filesIn(cacheDir()).size(), 1u);

  ZEPPORT::setEffectiveUidForTesting(owner + 1);
  writeLog("ZEP.b.metric.log", header("server1") + lines({record(2, kBaseTime * 1000LL)}));
  {
    TRK1_Capture capture;
    EXPECT_EQ(list_.readLogs(props_), -1);
    EXPECT_TRUE(capture.contains("owned by uid " + std::to_string(owner) +
                                 ", not by the agent's uid " + std::to_string(owner + 1)));
    EXPECT_FALSE(capture.contains("Permission denied"));
  }

  // A cache that is a symbolic link is refused even for root.
  ZEPPORT::setEffectiveUidForTesting(0);
  std::filesystem::rename(cacheDir(), tmp_.path("elsewhere"));
  std::filesystem::create_directory_symlink(tmp_.path("elsewhere"), cacheDir());
  TRK1_Capture capture;
  EXPECT_EQ(list_.readLogs(props_), -1);
  EXPECT_TRUE(capture.contains("symbolic link"));
  EXPECT_EQ(filesIn(logDir()), std::vector<std::string>{"ZEP.b.metric.log"});
}

}  // namespace
