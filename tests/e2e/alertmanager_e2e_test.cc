// Situation events of the real agent reach a webhook through a real
// Alertmanager, both started here on loopback.
#include <gtest/gtest.h>
#include <unistd.h>

#include <nlohmann/json.hpp>
#include <string>

#include "e2e/zepagent_process.h"

namespace {

using namespace e2e;

const char* const kAlertmanager = "/usr/bin/prometheus-alertmanager";

// True when the webhook was notified of `status` for situation Busy.
bool Notified(e2e::HttpSink& hook, const std::string& status) {
  bool notified = false;
  for (const std::string& body : hook.bodies()) {
    for (const json& a : json::parse(body, nullptr, false).value("alerts", json::array())) {
      const json& l = a["labels"];
      notified |= a["status"] == status && l["alertname"] == "Busy" && l["table"] == "ZEPMATT" &&
                  l["portname"] == "OrderPort";
    }
  }
  return notified;
}

TEST(AlertmanagerEndToEnd, SituationReachesWebhookFiringThenResolved) {
  ASSERT_EQ(access(kAlertmanager, X_OK), 0)
      << kAlertmanager << " is missing: run scripts/install-deps";
  e2e::TempDir tmp;
  e2e::HttpSink hook;
  const int amPort = e2e::FreePort();
  e2e::WriteFile(tmp.path() + "/alertmanager.yml",
                 "route:\n  receiver: hook\n  group_by: [alertname]\n  group_wait: 1s\n"
                 "  group_interval: 1s\n  repeat_interval: 1h\n"
                 "receivers:\n  - name: hook\n    webhook_configs:\n"
                 "      - url: http://127.0.0.1:" +
                     std::to_string(hook.port()) +
                     "/hook\n"
                     "        send_resolved: true\n");
  e2e::Child am(
      {kAlertmanager, "--config.file=" + tmp.path() + "/alertmanager.yml",
       "--storage.path=" + tmp.path() + "/am",
       "--web.listen-address=127.0.0.1:" + std::to_string(amPort), "--cluster.listen-address="},
      {}, tmp.path() + "/am.out", tmp.path() + "/am.err");
  ASSERT_TRUE(e2e::Eventually(30, [&] {
    return e2e::Http(amPort, "GET", "/-/ready").status == 200;
  })) << am.Err();

  Agent agent(tmp.path(), {"--alertmanager-url", "http://127.0.0.1:" + std::to_string(amPort)});
  ASSERT_TRUE(agent.Up()) << agent.child().Err();
  // A message-count situation names address, service and interval.
  e2e::HttpReply refused = agent.Send("POST", "/api/v1/situations", R"({"name": "NoAddress",
      "table": "ZEPMATT", "conditions": [{"attribute": "MSGCNT", "op": ">=", "value": 5}]})");
  EXPECT_EQ(refused.status, 400);
  EXPECT_NE(refused.body.find("no condition on RMIPADDR, PORTNAME, TMINT"), std::string::npos);
  e2e::HttpReply created = agent.Send("POST", "/api/v1/situations", R"({
      "name": "Busy", "table": "ZEPMATT", "interval": 30, "conditions": [
        {"attribute": "RMIPADDR", "op": "=", "value": "*"},
        {"attribute": "PORTNAME", "op": "=", "value": "OrderPort"},
        {"attribute": "TMINT", "op": "=", "value": 60},
        {"attribute": "MSGCNT", "op": ">=", "value": 5}]})");
  ASSERT_EQ(created.status, 201) << created.body;
  // (The simulator finds the log directory through the base-directory file.)
  ASSERT_EQ(
      e2e::Simulate("--etc-dir " + agent.dir().etc + " --count 20 --services 1 --locations 2"), 0);

  // Real time: the agent's situation ticks come every 30 seconds.
  ASSERT_TRUE(e2e::Eventually(90, [&] { return Notified(hook, "firing"); }))
      << agent.Trace() << am.Err();
  // Deleting the raised situation clears its alert.
  ASSERT_EQ(agent.Send("DELETE", "/api/v1/situations/Busy").status, 200);
  EXPECT_TRUE(e2e::Eventually(30, [&] { return Notified(hook, "resolved"); }))
      << agent.Trace() << am.Err();
}

}  // namespace
