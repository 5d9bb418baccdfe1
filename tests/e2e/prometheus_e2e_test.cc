// GET /metrics of the real agent, scraped by a real Prometheus server and
// checked by the real promtool, both started here on loopback.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>

#include "e2e/zepagent_process.h"

namespace {

using namespace e2e;

const char* const kPromtool = "/usr/bin/promtool";
const char* const kPrometheus = "/usr/bin/prometheus";

// A Prometheus server on `promPort` that scrapes the agent on `agentPort`
// every second, its files under `dir`.
e2e::Child StartPrometheus(const std::string& dir, int agentPort, int promPort) {
  e2e::WriteFile(dir + "/prometheus.yml",
                 "global:\n  scrape_interval: 1s\n  evaluation_interval: 1s\n"
                 "scrape_configs:\n  - job_name: zepagent\n    static_configs:\n"
                 "      - targets: ['127.0.0.1:" +
                     std::to_string(agentPort) + "']\n");
  return e2e::Child({kPrometheus, "--config.file=" + dir + "/prometheus.yml",
                     "--storage.tsdb.path=" + dir + "/tsdb",
                     "--web.listen-address=127.0.0.1:" + std::to_string(promPort)},
                    {}, dir + "/prometheus.out", dir + "/prometheus.err");
}

// Three simulated servers and one whose service names break the exposition
// format unless escaped, its server name and one operation holding bytes that
// are not UTF-8: Prometheus scrapes every record and a plausible elapsed-time
// quantile, and promtool accepts the page without a warning. The OpenMetrics
// page stays valid too: promtool parses it with the text format's rules and
// lints the counter families OpenMetrics names without "_total" ("no help
// text"), so there only a parse error counts.
TEST(PrometheusEndToEnd, PrometheusScrapesEveryRecordAndPromtoolAcceptsOddNames) {
  for (const char* tool : {kPromtool, kPrometheus})
    ASSERT_EQ(access(tool, X_OK), 0) << tool << " is missing: run scripts/install-deps";
  e2e::TempDir tmp;
  Agent agent(tmp.path(), {});
  ASSERT_TRUE(agent.Up()) << agent.Trace();
  const int promPort = e2e::FreePort();
  e2e::Child prometheus = StartPrometheus(tmp.path(), agent.port(), promPort);

  ASSERT_EQ(e2e::Simulate("--dir " + agent.dir().logs + " --servers 3 --count 150 --step-ms 20"),
            0);
  const std::vector<std::string> odd = {"Port\"quoted\"", "back\\slash\\",
                                        "Bestellung\xC3\xA4\xE2\x82\xAC", std::string(64, 'p'),
                                        "tab\there"};
  std::string file =
      "#ZEP.version=01.01.00\n#ZEP.env=1\n#ZEP.node=oddnode\n#ZEP.cell=oddcell\n"
      "#ZEP.servername=odd\xff\xfesrv\n#ZEP.cluster=oddcl\n#ZEP.hostname=oddhost\n"
      "#ZEP.ipaddress=10.0.0.9\n";
  for (const std::string& name : odd) {
    const std::string op = name == odd[0] ? "op\xff\xfe" : std::string(64, 'o');
    file += "1;" + std::to_string(time(nullptr) * 1000LL) + ";t1;25;" + name + ";" + op +
            ";0;1;300;c1;0;c0;rh;10.1.1.1;F1;fault \"x\"\n";
  }
  e2e::WriteFile(agent.dir().logs + "/.odd.tmp", file);
  ASSERT_EQ(rename((agent.dir().logs + "/.odd.tmp").c_str(),
                   (agent.dir().logs + "/ZEP.oddsrv.000001.metric.log").c_str()),
            0);

  // Real time: Prometheus scrapes every second on its own clock.
  ASSERT_TRUE(e2e::Eventually(90,
                              [&] {
                                return PromQuery(promPort, "sum(zep_messages_total)") ==
                                       std::to_string(450 + odd.size());
                              }))
      << PromQuery(promPort, "sum(zep_messages_total)") << "\n"
      << prometheus.Err();
  const std::string p90 =
      PromQuery(promPort, "histogram_quantile(0.9, sum by (le) (zep_elapsed_seconds_bucket))");
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
  e2e::WriteFile(tmp.path() + "/metrics.txt", e2e::Http(agent.port(), "GET", "/metrics", "",
                                                        {"Accept: application/openmetrics-text"})
                                                  .body);
  out.clear();
  e2e::RunCommand(std::string(kPromtool) + " check metrics < " + tmp.path() + "/metrics.txt", &out);
  EXPECT_EQ(out.find("error"), std::string::npos) << out;
}

// The per-service series of an agent capped at 6 label sets with a TTL of
// 10 minutes: a live server counts throughout, two servers that write one
// batch overflow the cap, go silent, expire when the agent's clock moves 20
// minutes on, and come back from zero. Prometheus's sum of rates has a value
// at every step and never a negative one; a reload with an unknown label is
// refused and keeps the running labels.
TEST(PrometheusEndToEnd, OverflowAndExpiryKeepRatesWholeAndABadReloadChangesNothing) {
  e2e::TempDir tmp;
  const std::string conf = tmp.path() + "/zepagent.conf", clock = tmp.path() + "/clock";
  const std::string settings =
      "metrics-labels = subnode,operation\nmetrics-max-series = 6\nmetrics-series-ttl = 10m\n";
  e2e::WriteFile(conf, settings);
  e2e::WriteFile(clock, "0\n");
  Agent agent(tmp.path(), {"--config", conf}, {"ZEP_TEST_CLOCK_FILE=" + clock});
  ASSERT_TRUE(agent.Up()) << agent.Trace();
  const int promPort = e2e::FreePort();
  e2e::Child prometheus = StartPrometheus(tmp.path(), agent.port(), promPort);
  auto metric = [&](const std::string& name, const std::string& labels) {
    const std::string text = agent.Get("/metrics").body, line = name + labels + " ";
    const size_t at = text.find("\n" + line);
    return at == std::string::npos ? -1.0 : std::stod(text.substr(at + 1 + line.size()));
  };
  auto present = [&] { return metric("zep_metrics_series", "{family=\"zep_messages_total\"}"); };
  auto live = e2e::StartSimulator(
      tmp.path(), {"--servers", "1", "--server-prefix", "live", "--services", "2", "--rate", "20"});
  ASSERT_TRUE(e2e::Eventually(30, [&] { return present() == 2; })) << agent.Get("/metrics").body;
  ASSERT_EQ(e2e::Simulate("--dir " + agent.dir().logs +
                          " --servers 2 --server-prefix gone --services 4 --count 100 --seed 2"),
            0);
  const std::string overflow = "{subnode=\"__overflow__\",operation=\"__overflow__\"}";
  ASSERT_TRUE(e2e::Eventually(30, [&] { return metric("zep_messages_total", overflow) > 0; }))
      << agent.Get("/metrics").body;
  EXPECT_EQ(present(), 6);
  ASSERT_TRUE(e2e::Eventually(30, [&] {
    return !PromQuery(promPort, "zep_messages_total" + overflow).empty();
  })) << prometheus.Err();
  const double start = static_cast<double>(time(nullptr));  // Prometheus scrapes by now

  // A reload that names an unknown label is refused whole.
  e2e::WriteFile(conf, settings + "metrics-labels = subnode,host\n");
  agent.child().Signal(SIGHUP);
  ASSERT_TRUE(e2e::Eventually(10, [&] {
    return agent.Trace().find("AXO0011E") != std::string::npos;
  })) << agent.Trace();
  EXPECT_NE(agent.Trace().find("unknown label host"), std::string::npos) << agent.Trace();
  EXPECT_EQ(present(), 6);
  e2e::WriteFile(conf, settings);

  // 20 minutes on: the batch servers and the overflow leave, the live one stays
  // (or comes back at its next record).
  e2e::WriteFile(clock, "1200\n");
  ASSERT_TRUE(e2e::Eventually(30, [&] {
    return present() == 2 && metric("zep_messages_total", overflow) < 0;
  })) << agent.Get("/metrics").body;
  EXPECT_EQ(agent.Get("/metrics?name=zep_messages_total").body.find("gone"), std::string::npos);
  // A batch server that writes again starts from zero.
  ASSERT_EQ(e2e::Simulate("--dir " + agent.dir().logs +
                          " --servers 1 --server-prefix gone --services 1 --count 30 --seed 3"),
            0);
  // (A scrape may come while the file is half read: its 30 records, in the end.)
  std::string body;
  EXPECT_TRUE(e2e::Eventually(30, [&] {
    body = agent.Get("/metrics?name=zep_messages_total").body;
    const size_t back = body.find("gone");
    return present() == 3 && back != std::string::npos &&
           body.substr(body.find("} ", back) + 2, 3) == "30\n";
  })) << body;
  sleep(3);  // three more scrapes after the return
  live.reset();

  // Prometheus's view of the whole run, a step per scrape.
  const double end = static_cast<double>(time(nullptr));
  e2e::HttpReply r = e2e::Http(
      promPort, "GET",
      "/api/v1/query_range?query=" + e2e::UrlEncode("sum(rate(zep_messages_total[5s]))") +
          "&start=" + std::to_string(start) + "&end=" + std::to_string(end - 1) + "&step=1");
  json j = json::parse(r.body, nullptr, false);
  ASSERT_TRUE(j.is_object() && j["status"] == "success" && !j["data"]["result"].empty()) << r.body;
  const json& values = j["data"]["result"][0]["values"];
  double previous = 0;
  for (const json& v : values) {
    const double at = v[0].get<double>();
    // A step may miss while a series comes back; never a scrape more.
    if (previous > 0) {
      EXPECT_LE(at - previous, 2.0) << "a gap in the sum of rates at " << at << ": " << values;
    }
    EXPECT_GE(std::stod(v[1].get<std::string>()), 0) << "at " << at << ": " << values;
    previous = at;
  }
  EXPECT_GE(values.size(), static_cast<size_t>((end - 1 - start) * 0.8));
}

}  // namespace
