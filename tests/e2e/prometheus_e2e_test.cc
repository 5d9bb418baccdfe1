// GET /metrics of the real agent, scraped by a real Prometheus server and
// checked by the real promtool, both started here on loopback.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>

#include "e2e/zepagent_process.h"

namespace {

using namespace e2e;

const char* const kPromtool = "/usr/bin/promtool";
const char* const kPrometheus = "/usr/bin/prometheus";

// The first value of an instant query, or "" when there is none.
std::string Query(int port, const std::string& expr) {
  e2e::HttpReply r = e2e::Http(port, "GET", "/api/v1/query?query=" + e2e::UrlEncode(expr));
  json j = json::parse(r.body, nullptr, false);
  if (!j.is_object() || j["status"] != "success" || j["data"]["result"].empty()) return "";
  return j["data"]["result"][0]["value"][1].get<std::string>();
}

// Three simulated servers and one whose service names break the exposition
// format unless escaped: Prometheus scrapes every record and a plausible
// elapsed-time quantile, and promtool accepts the page without a warning.
TEST(PrometheusEndToEnd, PrometheusScrapesEveryRecordAndPromtoolAcceptsOddNames) {
  for (const char* tool : {kPromtool, kPrometheus})
    ASSERT_EQ(access(tool, X_OK), 0) << tool << " is missing: run scripts/install-deps";
  e2e::TempDir tmp;
  Agent agent(tmp.path(), {});
  ASSERT_TRUE(agent.Up()) << agent.Trace();
  const int promPort = e2e::FreePort();
  e2e::WriteFile(tmp.path() + "/prometheus.yml",
                 "global:\n  scrape_interval: 1s\n  evaluation_interval: 1s\n"
                 "scrape_configs:\n  - job_name: zepagent\n    static_configs:\n"
                 "      - targets: ['127.0.0.1:" +
                     std::to_string(agent.port()) + "']\n");
  e2e::Child prometheus({kPrometheus, "--config.file=" + tmp.path() + "/prometheus.yml",
                         "--storage.tsdb.path=" + tmp.path() + "/tsdb",
                         "--web.listen-address=127.0.0.1:" + std::to_string(promPort)},
                        {}, tmp.path() + "/prometheus.out", tmp.path() + "/prometheus.err");

  ASSERT_EQ(e2e::Simulate("--dir " + agent.dir().logs + " --servers 3 --count 150 --step-ms 20"),
            0);
  const std::vector<std::string> odd = {"Port\"quoted\"", "back\\slash\\",
                                        "Bestellung\xC3\xA4\xE2\x82\xAC", std::string(64, 'p'),
                                        "tab\there"};
  std::string file =
      "#ZEP.version=01.01.00\n#ZEP.env=1\n#ZEP.node=oddnode\n#ZEP.cell=oddcell\n"
      "#ZEP.servername=oddsrv\n#ZEP.cluster=oddcl\n#ZEP.hostname=oddhost\n"
      "#ZEP.ipaddress=10.0.0.9\n";
  for (const std::string& name : odd) {
    file += "1;" + std::to_string(time(nullptr) * 1000LL) + ";t1;25;" + name + ";" +
            std::string(64, 'o') + ";0;1;300;c1;0;c0;rh;10.1.1.1;F1;fault \"x\"\n";
  }
  e2e::WriteFile(agent.dir().logs + "/.odd.tmp", file);
  ASSERT_EQ(rename((agent.dir().logs + "/.odd.tmp").c_str(),
                   (agent.dir().logs + "/ZEP.oddsrv.000001.metric.log").c_str()),
            0);

  // Real time: Prometheus scrapes every second on its own clock.
  ASSERT_TRUE(e2e::Eventually(90,
                              [&] {
                                return Query(promPort, "sum(zep_messages_total)") ==
                                       std::to_string(450 + odd.size());
                              }))
      << Query(promPort, "sum(zep_messages_total)") << "\n"
      << prometheus.Err();
  const std::string p90 =
      Query(promPort, "histogram_quantile(0.9, sum by (le) (zep_elapsed_seconds_bucket))");
  ASSERT_FALSE(p90.empty());
  // The simulator's elapsed times lie between 1 ms and 500 ms.
  EXPECT_GT(std::stod(p90), 0.1);
  EXPECT_LE(std::stod(p90), 0.5);

  // (The escaping and the content type are checked where the exposition is
  // written; here promtool judges the whole page.)
  e2e::WriteFile(tmp.path() + "/metrics.txt", agent.Get("/metrics").body);
  std::string out;
  EXPECT_EQ(e2e::RunCommand(
                std::string(kPromtool) + " check metrics < " + tmp.path() + "/metrics.txt", &out),
            0)
      << out;
  EXPECT_EQ(out, "") << "promtool warned";
}

}  // namespace
