// Tests of the agent settings and of the default configuration of servers.
#include "logs/zepdcset.h"

#include <gtest/gtest.h>

#include "foundation/zepprops.h"
#include "logs/zeplogs_test_util.h"

namespace {

using namespace zeplogs_test;

class ZepDcSetTest : public ZepLogsTest {
 protected:
  // Every setting at its default, then `extra`; returns the file loaded.
  ZEPPROPS_properties configure(const std::string& extra) {
    std::string text;
    for (const auto& s : ZEPDCSET_settings::requiredGlobalProps) {
      text += std::string(s.key) + "=" + std::to_string(s.defaultValue) + "\n";
    }
    tmp_.write("install/ZEP/config/ZEP.dc.properties", text + extra);
    return ZEPPROPS_properties(configFile().c_str());
  }
  std::string configText() { return tmp_.read("install/ZEP/config/ZEP.dc.properties"); }
};

TEST_F(ZepDcSetTest, SettingsAreBoundedDefaultedAndSavedOnlyOnChange) {
  const std::string window = "zep.axo.aggDataWindowSizeMinutes";
  for (const auto& [key, value, expected] : {std::tuple{window, "45", "30"},
                                             {window, "100", "60"},
                                             {window, "abc", "5"},
                                             {"zep.axo.maxSvcInvRecords", "50", "200"},
                                             {"zep.axo.maxMetricsRecords", "40000", "30000"}}) {
    ZEPPROPS_properties props = configure(key + "=" + value + "\n");
    EXPECT_TRUE(ZEPDCSET_settings::setDefaultGlobalDCProperties(props)) << key << value;
    EXPECT_STREQ(ZEPPROPS_properties(configFile().c_str()).getProperty(key.c_str()), expected);
  }
  // Valid values, a negative archive size included, change nothing.
  ZEPPROPS_properties valid = configure(window + "=15\nzep.axo.logFileMaxArchiveMB=-1\nx=1\n");
  const std::string before = configText();
  EXPECT_FALSE(ZEPDCSET_settings::setDefaultGlobalDCProperties(valid));
  EXPECT_EQ(configText(), before);
}

TEST_F(ZepDcSetTest, NewServerGetsTheTemplateCompletedByTheBuiltInOne) {
  tmp_.write("install/ZEP/config/default.dc.properties",
             "default.monitor=off\ndefault.log=warning\nother.key=1\n");
  ZEPPROPS_properties props = configure("1.server1.log=trace\n");
  ZEPDCSET_settings::setDefaultDCProperties(props, "server1", "1", true);
  ZEPPROPS_properties saved(configFile().c_str());
  EXPECT_STREQ(saved.getProperty("1.server1.monitor"), "off");
  EXPECT_STREQ(saved.getProperty("1.server1.log"), "trace");  // kept
  EXPECT_STREQ(saved.getProperty("1.server1.trace"), "off");  // built in
  EXPECT_EQ(saved.getProperty("1.server1.key"), nullptr);
  // Nothing to add: the file is left alone; a failed reload keeps the
  // configuration and writes nothing.
  const std::string before = configText();
  ZEPDCSET_settings::setDefaultDCProperties(props, "server1", "1", true);
  env_.FailFiles(zeptest::FakeEnv::FileOp::kOpen, "ZEP.dc.properties", EIO);
  ZEPDCSET_settings::setDefaultDCProperties(props, "server2", "1", true);
  EXPECT_STREQ(props.getProperty("1.server1.log"), "trace");
  EXPECT_EQ(props.getProperty("1.server2.monitor"), nullptr);
  EXPECT_EQ(configText(), before);
}

}  // namespace
