// The alert sender, driven pass by pass with chosen times, posting to a
// loopback HTTP sink started here.
#include "axo/alerts.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <mutex>
#include <thread>

#include "axo/trk1.h"

namespace {

using nlohmann::json;

constexpr time_t kT0 = 1700000000;   // 2023-11-14T22:13:20Z

// Records every alert posted to it; answers `status`.
class Sink {
 public:
  Sink() : port_(server_.bind_to_any_port("127.0.0.1")) { Serve(); }
  explicit Sink(int port) : port_(server_.bind_to_port("127.0.0.1", port) ? port : -1) { Serve(); }
  ~Sink() {
    server_.stop();
    thread_.join();
  }
  int port() const { return port_; }
  std::string url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/am/"; }
  // The alerts received so far, in order.
  std::vector<json> alerts() {
    std::lock_guard<std::mutex> guard(mu_);
    return alerts_;
  }

 private:
  void Serve() {
    server_.Post("/am/api/v2/alerts", [this](const httplib::Request& req, httplib::Response& res) {
      std::lock_guard<std::mutex> guard(mu_);
      for (const json& a : json::parse(req.body)) alerts_.push_back(a);
      res.status = 200;
    });
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    while (!server_.is_running()) std::this_thread::yield();   // else stop() is lost
  }

  httplib::Server server_;
  int port_;
  std::thread thread_;
  std::mutex mu_;
  std::vector<json> alerts_;
};

axo::Event Event(const std::string& situation, bool raised, time_t when, int count) {
  axo::Event e;
  e.time = when;
  e.situation = situation;
  e.table = "ZEPMATT";
  e.raised = raised;
  auto text = [](const std::string& t) { return axo::Value{true, t, 0}; };
  e.row = {{"ORIGINNODE", text("host:ZP")},   {"PORTNAME", text("OrderPort")},
           {"OPNAME", text("")},              {"MSGCNT", axo::Value{false, "", count}},
           {"SITNAME", text(situation)}};
  return e;
}

TEST(AlertSender, RaisedThenResentEvery60SecondsThenClearedWithSameLabels) {
  Sink sink;
  axo::alerts::Sender sender;
  sender.SetUrls({sink.url()});
  sender.Offer(Event("Busy", true, kT0, 12));
  sender.Pass(kT0);
  ASSERT_EQ(sink.alerts().size(), 1u);
  const json first = sink.alerts()[0];
  EXPECT_EQ(first["labels"], json({{"alertname", "Busy"}, {"table", "ZEPMATT"},
                                   {"subnode", "host:ZP"}, {"portname", "OrderPort"}}));
  EXPECT_EQ(first["annotations"], json({{"msgcnt", "12"}}));
  EXPECT_EQ(first["startsAt"], "2023-11-14T22:13:20Z");
  EXPECT_FALSE(first.contains("endsAt"));

  sender.Pass(kT0 + 59);
  EXPECT_EQ(sink.alerts().size(), 1u);
  sender.Pass(kT0 + 60);
  ASSERT_EQ(sink.alerts().size(), 2u);
  EXPECT_EQ(sink.alerts()[1], first);

  // The clear row differs (count below the limit); the alert keeps its labels.
  sender.Offer(Event("Busy", false, kT0 + 70, 1));
  sender.Pass(kT0 + 70);
  ASSERT_EQ(sink.alerts().size(), 3u);
  EXPECT_EQ(sink.alerts()[2]["labels"], first["labels"]);
  EXPECT_EQ(sink.alerts()[2]["endsAt"], "2023-11-14T22:14:30Z");
  sender.Pass(kT0 + 200);
  EXPECT_EQ(sink.alerts().size(), 3u);

  // A situation deleted while raised is sent as cleared.
  sender.Offer(Event("Gone", true, kT0 + 300, 5));
  sender.ResolveMissing({"Busy"}, kT0 + 301);
  sender.Pass(kT0 + 301);
  ASSERT_EQ(sink.alerts().size(), 5u);
  EXPECT_EQ(sink.alerts()[4]["endsAt"], "2023-11-14T22:18:21Z");
  EXPECT_EQ(sender.stats().raised, 0u);
  EXPECT_EQ(sender.stats().sent, 5u);
}

TEST(AlertSender, UnreachableCostsBoundedQueueBackoffAndOneTracePerStreak) {
  int port;
  {
    Sink probe;
    port = probe.port();
  }   // closed again
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

  Sink sink(port);
  sender.Pass(kT0 + 14);
  EXPECT_EQ(sender.stats().failures, 4u);   // still waiting 8 s from +7
  sender.Pass(kT0 + 15);
  EXPECT_EQ(sink.alerts().size(), 3u);
  EXPECT_EQ(sender.stats().queued, 0u);
  EXPECT_EQ(trace.count("AXO0302I"), 1);
}

TEST(AlertSender, UrlsAreHttpOrHttpsWithHostOptionalPortAndPath) {
  std::string error;
  for (const char* good : {"http://127.0.0.1:9093", "https://am.example:443/prefix/",
                           "http://[::1]:9093", "http://am"}) {
    EXPECT_TRUE(axo::alerts::ValidUrl(good, &error)) << good << ": " << error;
  }
  for (const char* bad : {"127.0.0.1:9093", "ftp://am:21", "http://", "http://:9093",
                          "http://am:0", "http://am:x", "http://am:", "http://u:p@am:9093",
                          "http://am:9093/?q=1", "http://::1:9093", "http://[::1"}) {
    EXPECT_FALSE(axo::alerts::ValidUrl(bad, &error)) << bad;
  }
  EXPECT_FALSE(axo::alerts::SetUrls({"http://am:9093", "am:9093"}, &error));
  EXPECT_NE(error.find("http://"), std::string::npos) << error;
}

}  // namespace
