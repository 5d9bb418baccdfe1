// The configuration model as the three configuration tables publish it,
// built from a real configuration file in a private install tree.
#include "config/zepctele.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "axo/process/axo.h"
#include "support/samples_test_util.h"
#include "tables/zepdcmt.h"
#include "tables/zepdct.h"
#include "tables/zepfct.h"

namespace {

using namespace samples_test;
using ConfigTablesTest = SamplesTest;

TEST_F(ConfigTablesTest, GlobalTableReadsSettingsShowsDefaultsAndNamesTheHost) {
  start(
      "1.server1.monitor=on\n1.server1.trace=on\n1.server1.log=WARNING\n"
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
  std::vector<std::string> rows;  // server|env|monitor|trace|log level|host
  for (const zep_zepdct_data_t& r : sample<zep_zepdct_agent>({})) {
    EXPECT_EQ(text(r.originnode), AXO_GetOriginnode());
    rows.push_back(text(r.appsrvnm) + "|" + std::to_string(r.appsrvenv) + "|" +
                   std::to_string(r.dconoff) + "|" + std::to_string(r.trconoff) + "|" +
                   (std::memcmp(&r.loglevel, "  ", 2) == 0 ? "" : std::to_string(r.loglevel)) +
                   "|" + text(r.hostname));
  }
  std::sort(rows.begin(), rows.end());
  // A dotted server name; trace off by default; an unknown log level leaves
  // its column blank; the host from the server's metric log, else the agent's.
  EXPECT_EQ(rows, (std::vector<std::string>{"app.node1|2|0|0||" + std::string(AXO_GetHostname()),
                                            "server1|1|1|1|2|host1.example.com"}));
  EXPECT_TRUE(
      capture.contains("ZEP0451E Unrecognized enum value in properties file, key=2.app.node1.log"));
  // Shown with their defaults, but listing and reading never write the file.
  EXPECT_EQ(tmp_.read("install/ZEP/config/ZEP.dc.properties"), config);
}

TEST_F(ConfigTablesTest, MonitorTableSkipsMissingAndUnknownControls) {
  start(
      "zep.config.version=1234567890\n"
      "1.s.monitor=on\n1.s.monitor.control.count=3\n"
      "1.s.monitor.control.1=OrderPort;submitOrder;*;FULL\n1.s.monitor.control.3=*;*\n"
      "2.t.monitor=on\n2.t.monitor.control.count=2\n"
      "2.t.monitor.control.1=*;*;*;verbose\n2.t.monitor.control.2=P;o;*;headers\n"
      "3.u.monitor.control.count=abc\n3.u.monitor.control.1=*;*;*;none\n"
      "4.v.monitor.control.count=2000000000\n4.v.monitor.control.1=*;*;*;body\n");
  std::vector<std::string> rows;  // server|index|port|operation|level
  for (const zep_zepdcmt_data_t& r : sample<zep_zepdcmt_agent>({})) {
    EXPECT_EQ(std::string(r.tablever, 8), "12345678");
    rows.push_back(text(r.appsrvnm) + "|" + std::to_string(r.mcindex) + "|" + text(r.portname) +
                   "|" + text(r.opname) + "|" +
                   (std::memcmp(&r.msglglvl, "  ", 2) == 0 ? "" : std::to_string(r.msglglvl)));
  }
  // Control 2 of s is missing; its control 3 has two fields and blank names.
  // t's unknown level drops its control 1. A count far beyond the file's
  // entries still finds v's controls there.
  EXPECT_EQ(rows, (std::vector<std::string>{"s|1|OrderPort|submitOrder|4", "s|3|||", "t|2|P|o|2",
                                            "v|1|*|*|3"}));
}

TEST_F(ConfigTablesTest, FilterTableListsEveryPresentControlAndARequestKeepsItsSnapshot) {
  start(
      "1.s.monitor=on\n1.s.filter.control.count=3\n"
      "1.s.filter.control.1=*;*;*;reject\n1.s.filter.control.2=P;o;10.0.0.1;reject\n"
      "1.s.filter.control.3=bad\n1.t.filter.control.count=0\n1.t.filter.control.1=*;*;*;reject\n");
  RequestDetail request;
  ContextInfo context;
  ZEPTABLE_object<zep_zepfct_agent> sampler(&request, &context, nullptr);
  ASSERT_EQ(sampler.TakeSample(), 0u);
  ASSERT_EQ(sampler.count, 3);
  std::vector<std::string> rows;  // address|index|port
  for (int i = 0; i < sampler.count; ++i) {
    auto* r = reinterpret_cast<const zep_zepfct_data_t*>(sampler.GetRow(i));
    rows.push_back(text(r->rmipaddr) + "|" + std::to_string(r->fcindex) + "|" + text(r->portname));
  }
  EXPECT_EQ(rows, (std::vector<std::string>{"*|1|*", "10.0.0.1|2|P", "|3|"}));

  tmp_.write("install/ZEP/config/ZEP.dc.properties",
             "1.s.monitor=on\n1.s.filter.control.count=1\n1.s.filter.control.1=P;o;c;reject\n");
  sampler.count = 0;
  ASSERT_EQ(sampler.TakeSample(), 0u);
  EXPECT_EQ(sampler.count, 3);
  EXPECT_EQ(sample<zep_zepfct_agent>({}).size(), 1u);
}

}  // namespace
