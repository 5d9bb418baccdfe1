// Situation events of the real agent reach a webhook through a real
// Alertmanager, both started here on loopback.
#include <gtest/gtest.h>
#include <httplib.h>
#include <unistd.h>

#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "e2e/zepagent_process.h"

namespace {

using e2e::Agent;
using nlohmann::json;

const char* const kAlertmanager = "/usr/bin/prometheus-alertmanager";

// The webhook receiver: records "<status> <alertname>" of every alert notified.
class Webhook {
 public:
  Webhook() : port_(server_.bind_to_any_port("127.0.0.1")) {
    server_.Post("/hook", [this](const httplib::Request& req, httplib::Response&) {
      json j = json::parse(req.body, nullptr, false);
      std::lock_guard<std::mutex> guard(mu_);
      if (!j.is_object()) return;
      for (const json& a : j["alerts"]) {
        seen_.push_back(a.value("status", "") + " " + a["labels"].value("alertname", "") + " " +
                        a["labels"].value("table", "") + " " + a["labels"].value("portname", ""));
      }
    });
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    while (!server_.is_running()) std::this_thread::yield();
  }
  ~Webhook() {
    server_.stop();
    thread_.join();
  }
  int port() const { return port_; }
  bool Saw(const std::string& entry) {
    std::lock_guard<std::mutex> guard(mu_);
    return std::find(seen_.begin(), seen_.end(), entry) != seen_.end();
  }

 private:
  httplib::Server server_;
  int port_;
  std::thread thread_;
  std::mutex mu_;
  std::vector<std::string> seen_;
};

TEST(AlertmanagerEndToEnd, SituationReachesWebhookFiringThenResolved) {
  ASSERT_EQ(access(kAlertmanager, X_OK), 0) << kAlertmanager
                                            << " is missing: run scripts/install-deps";
  e2e::TempDir tmp;
  {
    // A malformed URL stops start-up like any bad option.
    e2e::Child bad({e2e::kBuild + "/zepagent", "--listen", "none", "--alertmanager-url",
                    "127.0.0.1:9093"},
                   {}, tmp.path() + "/bad.out", tmp.path() + "/bad.err");
    EXPECT_EQ(bad.Wait(30), 2);
    EXPECT_NE(bad.Err().find("bad value for --alertmanager-url"), std::string::npos) << bad.Err();
  }
  Webhook hook;
  const int amPort = e2e::FreePort();
  e2e::WriteFile(tmp.path() + "/alertmanager.yml",
                 "route:\n  receiver: hook\n  group_by: [alertname]\n  group_wait: 1s\n"
                 "  group_interval: 1s\n  repeat_interval: 1h\n"
                 "receivers:\n  - name: hook\n    webhook_configs:\n"
                 "      - url: http://127.0.0.1:" + std::to_string(hook.port()) + "/hook\n"
                 "        send_resolved: true\n");
  e2e::Child am({kAlertmanager, "--config.file=" + tmp.path() + "/alertmanager.yml",
                 "--storage.path=" + tmp.path() + "/am",
                 "--web.listen-address=127.0.0.1:" + std::to_string(amPort),
                 "--cluster.listen-address="},
                {}, tmp.path() + "/am.out", tmp.path() + "/am.err");
  ASSERT_TRUE(e2e::Eventually(30, [&] { return e2e::Http(amPort, "GET", "/-/ready").status == 200; }))
      << am.Err();

  Agent agent(tmp.path(), {"--alertmanager-url", "http://127.0.0.1:" + std::to_string(amPort)});
  ASSERT_TRUE(agent.Up()) << agent.child().Err();
  e2e::HttpReply created = agent.Post("/api/v1/situations", R"({
      "name": "Busy", "table": "ZEPMATT", "interval": 30, "conditions": [
        {"attribute": "RMIPADDR", "op": "=", "value": "*"},
        {"attribute": "PORTNAME", "op": "=", "value": "OrderPort"},
        {"attribute": "TMINT", "op": "=", "value": 60},
        {"attribute": "MSGCNT", "op": ">=", "value": 5}]})");
  ASSERT_EQ(created.status, 201) << created.body;
  ASSERT_EQ(e2e::Simulate("--dir " + agent.dir().logs + " --count 20 --services 1 --locations 2"), 0);

  // Real time: the agent's situation ticks come every 30 seconds.
  ASSERT_TRUE(e2e::Eventually(90, [&] { return hook.Saw("firing Busy ZEPMATT OrderPort"); }))
      << agent.Trace() << am.Err();
  // Deleting the raised situation clears its alert.
  ASSERT_EQ(agent.Delete("/api/v1/situations/Busy").status, 200);
  EXPECT_TRUE(e2e::Eventually(30, [&] { return hook.Saw("resolved Busy ZEPMATT OrderPort"); }))
      << agent.Trace() << am.Err();
  EXPECT_NE(agent.Get("/metrics").body.find("\nzep_alerts_sent_total "), std::string::npos);
}

}  // namespace
