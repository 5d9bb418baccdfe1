// Tests of the agent settings and of the default configuration of servers.
#include "logs/zepdcset.h"

#include <gtest/gtest.h>

#include <string>

#include "foundation/zepprops.h"
#include "logs/zeplogs_test_util.h"

namespace {

using namespace zeplogs_test;

class ZepDcSetTest : public ZepLogsTest {
 protected:
  // Every setting valid, then `extra` lines.
  void writeConfig(const std::string& extra) {
    std::string text;
    for (const auto& s : ZEPDCSET_settings::requiredGlobalProps) {
      text += std::string(s.key) + "=" + std::to_string(s.defaultValue) + "\n";
    }
    tmp_.write("install/ZEP/config/ZEP.dc.properties", text + extra);
  }
  std::string configText() { return tmp_.read("install/ZEP/config/ZEP.dc.properties"); }
};

TEST_F(ZepDcSetTest, SettingsAreBoundedDefaultedAndSavedOnlyOnChange) {
  struct Case {
    const char* key;
    const char* value;
    const char* expected;
  } cases[] = {
      {"zep.axo.aggDataWindowSizeMinutes", "45", "30"},
      {"zep.axo.aggDataWindowSizeMinutes", "100", "60"},
      {"zep.axo.aggDataWindowSizeMinutes", "abc", "5"},
      {"zep.axo.aggDataWindowSizeMinutes", "7", "5"},
      {"zep.axo.maxSvcInvRecords", "50", "200"},
      {"zep.axo.logReadSleepTimeSeconds", "0", "1"},
      {"zep.axo.maxMetricsRecords", "40000", "30000"},
  };
  for (const Case& c : cases) {
    writeConfig(std::string(c.key) + "=" + c.value + "\n");
    ZEPPROPS_properties props(configFile().c_str());
    EXPECT_TRUE(ZEPDCSET_settings::setDefaultGlobalDCProperties(props)) << c.key << c.value;
    EXPECT_STREQ(props.getProperty(c.key), c.expected);
    ZEPPROPS_properties saved(configFile().c_str());
    EXPECT_STREQ(saved.getProperty(c.key), c.expected);
  }
  // Valid values, a negative archive size included, change nothing.
  writeConfig("zep.axo.aggDataWindowSizeMinutes=15\nzep.axo.logFileMaxArchiveMB=-1\nx=1\n");
  const std::string before = configText();
  ZEPPROPS_properties props(configFile().c_str());
  EXPECT_FALSE(ZEPDCSET_settings::setDefaultGlobalDCProperties(props));
  EXPECT_EQ(configText(), before);
  // A missing file gets every default.
  tmp_.write("install/ZEP/config/ZEP.dc.properties", "");
  ZEPPROPS_properties empty(configFile().c_str());
  EXPECT_TRUE(ZEPDCSET_settings::setDefaultGlobalDCProperties(empty));
  EXPECT_EQ(empty.getPropertyAsInt("zep.axo.maxSvcInvRetainMinutes", 0), 70);
  EXPECT_EQ(empty.size(), ZEPDCSET_settings::NUM_SETTINGS);
}

TEST_F(ZepDcSetTest, NewServerGetsTheTemplateCompletedByTheBuiltInOne) {
  tmp_.write("install/ZEP/config/default.dc.properties",
             "default.monitor=off\ndefault.log=warning\nother.key=1\n");
  writeConfig("1.server1.log=trace\n");
  ZEPPROPS_properties props(configFile().c_str());
  ZEPDCSET_settings::setDefaultDCProperties(props, "server1", "1", true);
  ZEPPROPS_properties saved(configFile().c_str());
  EXPECT_STREQ(saved.getProperty("1.server1.monitor"), "off");
  EXPECT_STREQ(saved.getProperty("1.server1.log"), "trace");  // kept
  EXPECT_STREQ(saved.getProperty("1.server1.trace"), "off");  // built in
  EXPECT_STREQ(saved.getProperty("1.server1.filter.control.count"), "0");
  EXPECT_EQ(saved.getProperty("1.server1.key"), nullptr);
  EXPECT_STREQ(saved.getProperty("zep.config.version"), "1");

  // Nothing to add: the file is left alone.
  const std::string before = configText();
  ZEPDCSET_settings::setDefaultDCProperties(props, "server1", "1", true);
  EXPECT_EQ(configText(), before);
}

TEST_F(ZepDcSetTest, FailedReloadKeepsTheConfiguration) {
  writeConfig("keep.me=yes\n");
  ZEPPROPS_properties props(configFile().c_str());
  const std::string before = configText();
  ZEPPORT::injectFault(ZEPPORT::Op::kOpen, "ZEP.dc.properties", EIO);
  ZEPDCSET_settings::setDefaultDCProperties(props, "server1", "1", true);
  ZEPPORT::clearFaults();
  EXPECT_STREQ(props.getProperty("keep.me"), "yes");
  EXPECT_EQ(props.getProperty("1.server1.monitor"), nullptr);
  EXPECT_EQ(configText(), before);
}

}  // namespace
