// The configuration model and the three configuration tables, built from a
// real configuration file in a private install tree.
#include "config/zepctele.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "axo/axo.h"
#include "config/zepdcmte.h"
#include "config/zepfctel.h"
#include "tables/samples_test_util.h"
#include "tables/zepdcmt.h"
#include "tables/zepdct.h"
#include "tables/zepfct.h"

namespace {

using samples_test::SamplesTest;
using samples_test::text;

// The elements of a builder's list, which the test then owns.
template <class Elem>
std::vector<Elem*> elements(ZEPLLST_LinkedList* list) {
  std::vector<Elem*> out;
  for (ZEPLELEM_listElem* e = list->front(); e != nullptr; e = list->next(e)) {
    out.push_back(static_cast<Elem*>(e));
  }
  return out;
}

class ConfigModelTest : public SamplesTest {
 protected:
  std::string config() const { return tmp_.read("install/ZEP/config/ZEP.dc.properties"); }
};

TEST_F(ConfigModelTest, GlobalTableReadsSettingsAndCompletesDefaults) {
  start("1.server1.monitor=on\n1.server1.trace=on\n1.server1.log=WARNING\n"
        "2.app.node1.monitor=off\n2.app.node1.log=debug\n1.server1.monitor=on\n");
  TRK1_Capture capture;
  ZEPLLST_LinkedList* list = ZEPCTELE_GlobalCfg::getGlobalConfigTable();
  std::vector<ZEPCTELE_GlobalCfg*> rows = elements<ZEPCTELE_GlobalCfg>(list);
  ASSERT_EQ(rows.size(), 2u);

  EXPECT_EQ(text(rows[0]->row.appsrvnm), "server1");
  EXPECT_EQ(rows[0]->row.appsrvenv, 1);
  EXPECT_EQ(rows[0]->row.dconoff, 1);
  EXPECT_EQ(rows[0]->row.trconoff, 1);
  EXPECT_EQ(rows[0]->row.loglevel, 2);
  EXPECT_EQ(std::string(rows[0]->row.tablever, 8), "        ");  // the file has no version
  EXPECT_EQ(std::string(rows[0]->row.originnode, 32), std::string(32, ' '));
  EXPECT_EQ(std::string(rows[0]->row.hostname, 64), std::string(64, ' '));

  // A dotted server name; an unknown log level leaves its column blank.
  EXPECT_EQ(text(rows[1]->row.appsrvnm), "app.node1");
  EXPECT_EQ(rows[1]->row.appsrvenv, 2);
  EXPECT_EQ(rows[1]->row.dconoff, 0);
  EXPECT_EQ(rows[1]->row.trconoff, 0);  // default "off", shown but not written
  EXPECT_EQ(std::memcmp(&rows[1]->row.loglevel, "  ", 2), 0);
  EXPECT_TRUE(capture.contains(
      "ZEP0451E Unrecognized enum value in properties file, key=2.app.node1.log"));
  delete list;

  EXPECT_EQ(config().find("2.app.node1.trace=off"), std::string::npos);
  EXPECT_EQ(config().find("2.app.node1.monitor.control.1=*;*;*;none"), std::string::npos);
  EXPECT_NE(config().find("2.app.node1.log=debug"), std::string::npos);
}

TEST_F(ConfigModelTest, MonitorTableSkipsMissingAndUnknownControls) {
  start("zep.config.version=1234567890\n"
        "1.s.monitor=on\n1.s.monitor.control.count=3\n"
        "1.s.monitor.control.1=OrderPort;submitOrder;*;FULL\n1.s.monitor.control.3=*;*\n"
        "2.t.monitor=on\n2.t.monitor.control.count=2\n"
        "2.t.monitor.control.1=*;*;*;verbose\n2.t.monitor.control.2=P;o;*;headers\n"
        "3.u.monitor.control.count=abc\n3.u.monitor.control.1=*;*;*;none\n"
        "4.v.monitor.control.count=2000000000\n4.v.monitor.control.1=*;*;*;body\n");
  ZEPLLST_LinkedList* list = ZEPDCMTE_MonitorCtl::getMonitorCtlTable();
  std::vector<ZEPDCMTE_MonitorCtl*> rows = elements<ZEPDCMTE_MonitorCtl>(list);
  ASSERT_EQ(rows.size(), 4u);

  EXPECT_EQ(rows[0]->row.mcindex, 1);
  EXPECT_EQ(text(rows[0]->row.portname), "OrderPort");
  EXPECT_EQ(text(rows[0]->row.opname), "submitOrder");
  EXPECT_EQ(rows[0]->row.msglglvl, 4);
  EXPECT_EQ(std::string(rows[0]->row.tablever, 8), "12345678");
  // Control 2 is missing; control 3 has two fields and blank names.
  EXPECT_EQ(rows[1]->row.mcindex, 3);
  EXPECT_EQ(text(rows[1]->row.portname), "");
  EXPECT_EQ(std::memcmp(&rows[1]->row.msglglvl, "  ", 2), 0);
  // An unknown level drops the control.
  EXPECT_EQ(text(rows[2]->row.appsrvnm), "t");
  EXPECT_EQ(rows[2]->row.mcindex, 2);
  EXPECT_EQ(rows[2]->row.msglglvl, 2);
  // A count far beyond the file's entries still finds the controls there.
  EXPECT_EQ(text(rows[3]->row.appsrvnm), "v");
  EXPECT_EQ(rows[3]->row.msglglvl, 3);
  delete list;
}

TEST_F(ConfigModelTest, FilterTableListsEveryPresentControl) {
  start("1.s.monitor=on\n1.s.filter.control.count=3\n"
        "1.s.filter.control.1=*;*;*;reject\n1.s.filter.control.2=P;o;10.0.0.1;reject\n"
        "1.s.filter.control.3=bad\n1.t.filter.control.count=0\n1.t.filter.control.1=*;*;*;reject\n");
  ZEPLLST_LinkedList* list = ZEPFCTEL_FilterCtl::getFilterCtlTable();
  std::vector<ZEPFCTEL_FilterCtl*> rows = elements<ZEPFCTEL_FilterCtl>(list);
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(text(rows[0]->row.rmipaddr), "*");
  EXPECT_EQ(text(rows[1]->row.portname), "P");
  EXPECT_EQ(text(rows[1]->row.rmipaddr), "10.0.0.1");
  EXPECT_EQ(rows[1]->row.fcindex, 2);
  EXPECT_EQ(text(rows[2]->row.portname), "");
  EXPECT_EQ(rows[2]->row.fcindex, 3);
  delete list;
}

// --- the tables -------------------------------------------------------------

class ConfigTableTest : public SamplesTest {};

TEST_F(ConfigTableTest, RowsCarryOriginNodeAndTheRightHostName) {
  start("1.other.monitor=on\n");
  samples_test::fakeTime() += 60;
  feed("server1", {samples_test::Rec(samples_test::fakeTime() - 30, 5)});

  std::vector<zep_zepdct_data_t> rows = samples_test::sample<zep_zepdct_agent>({});
  ASSERT_EQ(rows.size(), 2u);
  const char* origin = AXO_GetOriginnode();
  const char* host = AXO_GetHostname();
  ASSERT_NE(origin, nullptr);
  ASSERT_NE(host, nullptr);
  EXPECT_EQ(text(rows[0].originnode), origin);
  EXPECT_EQ(text(rows[0].appsrvnm), "other");
  EXPECT_EQ(text(rows[0].hostname), host);  // no metric log: the agent's host
  EXPECT_EQ(text(rows[1].appsrvnm), "server1");
  EXPECT_EQ(text(rows[1].hostname), "host1.example.com");

  std::vector<zep_zepdcmt_data_t> controls = samples_test::sample<zep_zepdcmt_agent>({});
  // The default control written when server1 registered; reading ZEPDCT
  // wrote none for "other".
  ASSERT_EQ(controls.size(), 1u);
  for (const zep_zepdcmt_data_t& c : controls) {
    EXPECT_EQ(text(c.hostname), text(c.appsrvnm) == "server1" ? "host1.example.com" : host);
  }
  EXPECT_TRUE(samples_test::sample<zep_zepfct_agent>({}).empty());
}

TEST_F(ConfigTableTest, ARequestKeepsItsSnapshot) {
  start("1.s.monitor=on\n1.s.filter.control.count=1\n1.s.filter.control.1=P;o;c;reject\n");
  RequestDetail request;
  ContextInfo context;
  ZEPTABLE_object<zep_zepfct_agent> sampler(&request, &context, nullptr);
  ASSERT_EQ(sampler.TakeSample(), 0u);
  ASSERT_EQ(sampler.count, 1);

  tmp_.write("install/ZEP/config/ZEP.dc.properties",
             "1.s.monitor=on\n1.s.filter.control.count=2\n1.s.filter.control.1=P;o;c;reject\n"
             "1.s.filter.control.2=Q;o;c;reject\n");
  sampler.count = 0;
  ASSERT_EQ(sampler.TakeSample(), 0u);
  EXPECT_EQ(sampler.count, 1);
  EXPECT_EQ(samples_test::sample<zep_zepfct_agent>({}).size(), 2u);
}

}  // namespace
