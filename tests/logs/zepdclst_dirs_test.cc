// The cache and archive subdirectories of the metric log list: set up before
// the log directory exists.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "axo/axo.h"
#include "axo/trk1.h"
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
    AXO_SetSubnodeResultsForTesting(0, 0);
    ZepLogsTest::TearDown();
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

}  // namespace
