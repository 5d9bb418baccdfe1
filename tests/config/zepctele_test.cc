// The configuration model as the three configuration tables publish it,
// built from a real configuration file in a private install tree.
#include "config/zepctele.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "axo/axo.h"
#include "tables/samples_test_util.h"
#include "tables/zepdcmt.h"
#include "tables/zepdct.h"
#include "tables/zepfct.h"

namespace {

using namespace samples_test;
using ConfigTablesTest = SamplesTest;

TEST_F(ConfigTablesTest, GlobalTableReadsSettingsShowsDefaultsAndNamesTheHost) {
  start("1.server1.monitor=on\n1.server1.trace=on\n1.server1.log=WARNING\n"
        "2.app.node1.monitor=off\n2.app.node1.log=debug\n");
  feed("server1", {rec(kT0, 5)});
  const std::string config = tmp_.read("install/ZEP/config/ZEP.dc.properties");
  {
    // The throw-away sampler the framework builds to list the columns.
    RequestDetail request;
    ContextInfo context;
    ZEPTABLE_object<zep_zepdct_agent> table(&request, &context, nullptr);
    ColumnInfo info{};
    EXPECT_EQ(table.GetColumnInfo(&info, table.NumColumns() - 1), 0u);
  }
  TRK1_Capture capture;
  const std::vector<zep_zepdct_data_t> rows = sample<zep_zepdct_agent>({});
  ASSERT_EQ(rows.size(), 2u);
  const zep_zepdct_data_t& s = text(rows[0].appsrvnm) == "server1" ? rows[0] : rows[1];
  const zep_zepdct_data_t& a = &s == &rows[0] ? rows[1] : rows[0];
  EXPECT_EQ(text(s.originnode), AXO_GetOriginnode());
  EXPECT_EQ(s.appsrvenv, 1);
  EXPECT_EQ(s.dconoff, 1);
  EXPECT_EQ(s.trconoff, 1);
  EXPECT_EQ(s.loglevel, 2);
  EXPECT_EQ(text(s.hostname), "host1.example.com");  // from the server's metric log

  // A dotted server name; an unknown log level leaves its column blank.
  EXPECT_EQ(text(a.appsrvnm), "app.node1");
  EXPECT_EQ(a.appsrvenv, 2);
  EXPECT_EQ(a.dconoff, 0);
  EXPECT_EQ(a.trconoff, 0);  // the default
  EXPECT_EQ(std::memcmp(&a.loglevel, "  ", 2), 0);
  EXPECT_EQ(text(a.hostname), AXO_GetHostname());  // no metric log: the agent's host
  EXPECT_TRUE(capture.contains(
      "ZEP0451E Unrecognized enum value in properties file, key=2.app.node1.log"));
  // Shown with their defaults, but listing and reading never write the file.
  EXPECT_EQ(tmp_.read("install/ZEP/config/ZEP.dc.properties"), config);
}

TEST_F(ConfigTablesTest, MonitorTableSkipsMissingAndUnknownControls) {
  start("zep.config.version=1234567890\n"
        "1.s.monitor=on\n1.s.monitor.control.count=3\n"
        "1.s.monitor.control.1=OrderPort;submitOrder;*;FULL\n1.s.monitor.control.3=*;*\n"
        "2.t.monitor=on\n2.t.monitor.control.count=2\n"
        "2.t.monitor.control.1=*;*;*;verbose\n2.t.monitor.control.2=P;o;*;headers\n"
        "3.u.monitor.control.count=abc\n3.u.monitor.control.1=*;*;*;none\n"
        "4.v.monitor.control.count=2000000000\n4.v.monitor.control.1=*;*;*;body\n");
  const std::vector<zep_zepdcmt_data_t> rows = sample<zep_zepdcmt_agent>({});
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(rows[0].mcindex, 1);
  EXPECT_EQ(text(rows[0].opname), "submitOrder");
  EXPECT_EQ(rows[0].msglglvl, 4);
  EXPECT_EQ(std::string(rows[0].tablever, 8), "12345678");
  // Control 2 is missing; control 3 has two fields and blank names.
  EXPECT_EQ(rows[1].mcindex, 3);
  EXPECT_EQ(text(rows[1].portname), "");
  EXPECT_EQ(std::memcmp(&rows[1].msglglvl, "  ", 2), 0);
  // An unknown level drops the control.
  EXPECT_EQ(text(rows[2].appsrvnm), "t");
  EXPECT_EQ(rows[2].mcindex, 2);
  EXPECT_EQ(rows[2].msglglvl, 2);
  // A count far beyond the file's entries still finds the controls there.
  EXPECT_EQ(text(rows[3].appsrvnm), "v");
  EXPECT_EQ(rows[3].msglglvl, 3);
}

TEST_F(ConfigTablesTest, FilterTableListsEveryPresentControlAndARequestKeepsItsSnapshot) {
  start("1.s.monitor=on\n1.s.filter.control.count=3\n"
        "1.s.filter.control.1=*;*;*;reject\n1.s.filter.control.2=P;o;10.0.0.1;reject\n"
        "1.s.filter.control.3=bad\n1.t.filter.control.count=0\n1.t.filter.control.1=*;*;*;reject\n");
  RequestDetail request;
  ContextInfo context;
  ZEPTABLE_object<zep_zepfct_agent> sampler(&request, &context, nullptr);
  ASSERT_EQ(sampler.TakeSample(), 0u);
  ASSERT_EQ(sampler.count, 3);
  auto row = [&](int i) { return reinterpret_cast<const zep_zepfct_data_t*>(sampler.GetRow(i)); };
  EXPECT_EQ(text(row(0)->rmipaddr), "*");
  EXPECT_EQ(text(row(1)->rmipaddr), "10.0.0.1");
  EXPECT_EQ(row(1)->fcindex, 2);
  EXPECT_EQ(text(row(2)->portname), "");
  EXPECT_EQ(row(2)->fcindex, 3);

  tmp_.write("install/ZEP/config/ZEP.dc.properties",
             "1.s.monitor=on\n1.s.filter.control.count=1\n1.s.filter.control.1=P;o;c;reject\n");
  sampler.count = 0;
  ASSERT_EQ(sampler.TakeSample(), 0u);
  EXPECT_EQ(sampler.count, 3);
  EXPECT_EQ(sample<zep_zepfct_agent>({}).size(), 1u);
}

}  // namespace
