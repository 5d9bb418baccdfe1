// The alert sender, driven pass by pass with chosen times, posting to a
// loopback HTTP sink started here.
#include "axo/alerts/alerts.h"

#include <gtest/gtest.h>

#include "axo/base/trk1.h"
#include "support/e2e_support.h"

namespace {

using nlohmann::json;

constexpr time_t kT0 = 1700000000;  // 2023-11-14T22:13:20Z

// Every alert the sink received, in order.
std::vector<json> Alerts(e2e::HttpSink& sink) {
  std::vector<json> out;
  for (const std::string& body : sink.bodies()) {
    for (const json& a : json::parse(body)) out.push_back(a);
  }
  return out;
}

axo::Event Event(const std::string& situation, bool raised, time_t when, int count) {
  auto text = [](const std::string& t) { return axo::Value{true, t, 0}; };
  return axo::Event{0,
                    when,
                    situation,
                    "ZEPMATT",
                    raised,
                    {{"ORIGINNODE", text("host:ZP")},
                     {"PORTNAME", text("OrderPort")},
                     {"OPNAME", text("")},
                     {"MSGCNT", axo::Value{false, "", count}},
                     {"SITNAME", text(situation)}}};
}

TEST(AlertSender, RaisedThenResentEvery60SecondsThenClearedWithSameLabels) {
  e2e::HttpSink sink;
  axo::alerts::Sender sender;
  sender.Offer(Event("Busy", true, kT0, 12));
  EXPECT_EQ(sender.stats().queued, 0u);  // no URL yet: remembered, not queued
  sender.SetUrls({"http://127.0.0.1:" + std::to_string(sink.port()) + "/am/"});
  sender.Pass(kT0);
  ASSERT_EQ(Alerts(sink).size(), 1u);
  const json first = Alerts(sink)[0];
  EXPECT_EQ(first["labels"], json({{"alertname", "Busy"},
                                   {"table", "ZEPMATT"},
                                   {"subnode", "host:ZP"},
                                   {"portname", "OrderPort"}}));
  EXPECT_EQ(first["annotations"], json({{"msgcnt", "12"}}));
  EXPECT_EQ(first["startsAt"], "2023-11-14T22:13:20Z");
  EXPECT_FALSE(first.contains("endsAt"));

  sender.Pass(kT0 + 59);
  EXPECT_EQ(Alerts(sink).size(), 1u);
  sender.Pass(kT0 + 60);
  ASSERT_EQ(Alerts(sink).size(), 2u);
  EXPECT_EQ(Alerts(sink)[1], first);

  // The clear row differs (count below the limit); the alert keeps its labels.
  sender.Offer(Event("Busy", false, kT0 + 70, 1));
  sender.Pass(kT0 + 70);
  ASSERT_EQ(Alerts(sink).size(), 3u);
  EXPECT_EQ(Alerts(sink)[2]["labels"], first["labels"]);
  EXPECT_EQ(Alerts(sink)[2]["endsAt"], "2023-11-14T22:14:30Z");
  sender.Pass(kT0 + 200);
  EXPECT_EQ(Alerts(sink).size(), 3u);
}

TEST(AlertSender, UnreachableCostsBoundedQueueBackoffAndOneTracePerStreak) {
  const int port = e2e::FreePort();
  axo::alerts::Sender::Limits limits;
  limits.capacity = 3;
  axo::alerts::Sender sender(limits);
  sender.SetUrls({"http://127.0.0.1:" + std::to_string(port) + "/am"});
  TRK1_Capture trace;
  for (int i = 0; i < 5; ++i) sender.Offer(Event("S" + std::to_string(i), true, kT0, i));
  EXPECT_EQ(sender.stats().dropped, 2u);
  EXPECT_EQ(sender.stats().queued, 3u);

  // Attempts at +0, +1, +3, +7: the wait doubles; passes in between post nothing.
  for (time_t t = kT0; t < kT0 + 8; ++t) sender.Pass(t);
  EXPECT_EQ(sender.stats().failures, 4u);
  EXPECT_EQ(trace.count("AXO0301W"), 1);

  e2e::HttpSink sink(port);
  sender.Pass(kT0 + 14);
  EXPECT_EQ(sender.stats().failures, 4u);  // still waiting 8 s from +7
  sender.Pass(kT0 + 15);
  EXPECT_EQ(Alerts(sink).size(), 3u);
  EXPECT_EQ(sender.stats().queued, 0u);
  EXPECT_EQ(trace.count("AXO0302I"), 1);
}

TEST(AlertSender, UrlsAreHttpOrHttpsWithHostOptionalPortAndPath) {
  for (const char* good : {"https://am.example:443/prefix/", "http://[::1]:9093", "http://am"}) {
    EXPECT_TRUE(axo::alerts::ValidUrl(good).ok())
        << good << ": " << axo::alerts::ValidUrl(good).message();
  }
  for (const char* bad :
       {"127.0.0.1:9093", "ftp://am:21", "http://:9093", "http://am:0",
        "http://am:", "http://u:p@am:9093", "http://am/?q=1", "http://::1:9093"}) {
    EXPECT_FALSE(axo::alerts::ValidUrl(bad).ok()) << bad;
  }
}

}  // namespace
