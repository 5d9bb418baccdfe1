// GET /metrics of the real agent, checked by the real promtool and scraped
// by a real Prometheus server, both started here on loopback.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>

#include "e2e/zepagent_process.h"

namespace {

using e2e::Agent;
using e2e::json;
using e2e::Simulate;

const char* const kPromtool = "/usr/bin/promtool";
const char* const kPrometheus = "/usr/bin/prometheus";

// The values of every labelled series of `family` in an exposition, summed.
double SumOf(const std::string& text, const std::string& family) {
  double sum = 0;
  size_t pos = 0;
  while ((pos = text.find("\n" + family + "{", pos)) != std::string::npos) {
    size_t end = text.find('\n', pos + 1);
    size_t space = text.rfind(' ', end);
    sum += std::stod(text.substr(space + 1, end - space - 1));
    pos = end;
  }
  return sum;
}

class PrometheusEndToEnd : public ::testing::Test {
 protected:
  e2e::TempDir tmp_;
};

TEST_F(PrometheusEndToEnd, PromtoolAcceptsMetricsWithOddServiceNames) {
  ASSERT_EQ(access(kPromtool, X_OK), 0) << kPromtool << " is missing: run scripts/install-deps";
  Agent agent(tmp_.path(), {});
  ASSERT_TRUE(agent.Up()) << agent.Trace();
  ASSERT_EQ(Simulate("--dir " + agent.dir().logs + " --servers 2 --count 100 --step-ms 50"), 0);
  // Service names that break the format unless escaped.
  const std::vector<std::string> odd = {"Port\"quoted\"", "back\\slash\\",
                                        "Bestellung\xC3\xA4\xE2\x82\xAC", std::string(64, 'p'),
                                        "tab\there"};
  std::string file =
      "#ZEP.version=01.01.00\n#ZEP.env=1\n#ZEP.node=oddnode\n#ZEP.cell=oddcell\n"
      "#ZEP.servername=oddsrv\n#ZEP.cluster=oddcl\n#ZEP.hostname=oddhost\n"
      "#ZEP.ipaddress=10.0.0.9\n";
  const long long ms = static_cast<long long>(time(nullptr)) * 1000;
  for (const std::string& name : odd) {
    file += "1;" + std::to_string(ms) + ";t1;25;" + name + ";" + std::string(64, 'o') +
            ";0;1;300;c1;0;c0;rh;10.1.1.1;F1;fault \"x\"\n";
  }
  e2e::WriteFile(agent.dir().logs + "/.odd.tmp", file);
  ASSERT_EQ(rename((agent.dir().logs + "/.odd.tmp").c_str(),
                   (agent.dir().logs + "/ZEP.oddsrv.000001.metric.log").c_str()),
            0);

  std::string metrics;
  ASSERT_TRUE(e2e::Eventually(30, [&] {
    metrics = agent.Get("/metrics").body;
    return SumOf(metrics, "zep_messages_total") == 200 + odd.size();
  })) << metrics;
  // (The escaping and the content type are checked where the exposition is
  // written; here promtool judges the whole page.)

  e2e::WriteFile(tmp_.path() + "/metrics.txt", metrics);
  std::string out;
  EXPECT_EQ(e2e::RunCommand(std::string(kPromtool) + " check metrics < " + tmp_.path() + "/metrics.txt",
                            &out), 0) << out;
  EXPECT_EQ(out, "") << "promtool warned";
}

// The first value of an instant query, or "" when there is none.
std::string Query(int port, const std::string& expr) {
  e2e::HttpReply r = e2e::Http(port, "GET", "/api/v1/query?query=" + e2e::UrlEncode(expr));
  json j = json::parse(r.body, nullptr, false);
  if (!j.is_object() || j["status"] != "success" || j["data"]["result"].empty()) return "";
  return j["data"]["result"][0]["value"][1].get<std::string>();
}

TEST_F(PrometheusEndToEnd, PrometheusScrapesAgentFedBySimulator) {
  ASSERT_EQ(access(kPrometheus, X_OK), 0) << kPrometheus << " is missing: run scripts/install-deps";
  Agent agent(tmp_.path(), {});
  ASSERT_TRUE(agent.Up()) << agent.Trace();
  const int promPort = e2e::FreePort();
  e2e::WriteFile(tmp_.path() + "/prometheus.yml",
                 "global:\n  scrape_interval: 1s\n  evaluation_interval: 1s\n"
                 "scrape_configs:\n  - job_name: zepagent\n    static_configs:\n"
                 "      - targets: ['127.0.0.1:" +
                     std::to_string(agent.port()) + "']\n");
  e2e::Child prometheus({kPrometheus, "--config.file=" + tmp_.path() + "/prometheus.yml",
                         "--storage.tsdb.path=" + tmp_.path() + "/tsdb",
                         "--web.listen-address=127.0.0.1:" + std::to_string(promPort)},
                        {}, tmp_.path() + "/prometheus.out", tmp_.path() + "/prometheus.err");

  ASSERT_EQ(Simulate("--dir " + agent.dir().logs + " --servers 3 --count 150 --step-ms 20"), 0);
  // Real time: Prometheus scrapes every second on its own clock.
  ASSERT_TRUE(
      e2e::Eventually(90, [&] { return Query(promPort, "sum(zep_messages_total)") == "450"; }))
      << Query(promPort, "sum(zep_messages_total)") << "\n"
      << prometheus.Err();
  EXPECT_EQ(Query(promPort, "up{job=\"zepagent\"}"), "1");
  const std::string p90 =
      Query(promPort, "histogram_quantile(0.9, sum by (le) (zep_elapsed_seconds_bucket))");
  ASSERT_FALSE(p90.empty());
  const double seconds = std::stod(p90);
  // The simulator's elapsed times lie between 1 ms and 500 ms.
  EXPECT_GT(seconds, 0.1);
  EXPECT_LE(seconds, 0.5);
}

}  // namespace
