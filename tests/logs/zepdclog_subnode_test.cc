// The subnode name of a server is its identity towards the framework: a
// change of the checksum (the fields it covers, their order or width) would
// rename every subnode of every installation, so its value is pinned here.
#include <gtest/gtest.h>

#include <string>

#include "logs/zepdclog.h"

namespace {

TEST(ZepDcLogSubnodeTest, KnownHeaderGivesItsExactSubnodeName) {
  // Server, environment, cell, node, cluster and host all feed the checksum;
  // the IP address and version do not.
  ZEPDCLOG_DCMetricsLogFile log("/nonexistent", "ZEP.s1.metric.log");
  for (const char* line : {"#ZEP.version=01.01.00", "#ZEP.env=1", "#ZEP.node=node1",
                           "#ZEP.cell=cell1", "#ZEP.servername=server1", "#ZEP.cluster=cluster1",
                           "#ZEP.hostname=host1.example.com", "#ZEP.ipaddress=10.0.0.1"}) {
    log.processKeyVal(line);
  }
  log.generateSubnodeName();
  const std::string expected = "ZP:05d0638a:host1-server1";
  EXPECT_EQ(std::string(log.getSubnodeName()), expected + std::string(32 - expected.size(), ' '));
}

}  // namespace
