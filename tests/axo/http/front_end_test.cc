// The operator API's connection front end in process, driven with raw
// requests through the API over the framework's small test tables: what
// it refuses, chunked and pipelined requests, deadlines, the connection
// table and the per-address shares.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "axo/api/operator_api_fixture.h"
#include "axo/metrics/metrics.h"
#include "axo/process/axo.h"
#include "support/e2e_support.h"

namespace {

using nlohmann::json;
using ::testing::HasSubstr;

const std::string kPost =
    "POST /api/v1/actions HTTP/1.1\r\nHost: a\r\n" + std::string(kAuth) + "\r\n";

std::string Repeat(const std::string& text, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += text;
  return out;
}

// What the front end cannot frame or accept, it answers itself in the API's
// error shape, closes, and counts.
TEST_F(AxoHttpApiTest, FrontEndRefusesWhatItCannotAccept) {
  auto refusedActions = [&] {
    const std::string series =
        R"(zep_api_requests_total{method="POST",route="/api/v1/actions",status="413"} )";
    const std::string metrics = Get("/metrics").body;
    const size_t at = metrics.find(series);
    return at == std::string::npos ? 0 : std::atoi(metrics.c_str() + at + series.size());
  };
  const int refusedBefore = refusedActions();
  const std::string chunked = kPost + "Transfer-Encoding: chunked\r\n\r\n";
  const struct {
    std::string request;
    int status;
  } cases[] = {
      {"GET /" + std::string(9000, 'a') + " HTTP/1.1\r\n\r\n", 414},
      {"GET /healthz HTTP/1.1\r\n" + Repeat("X-A: b\r\n", 101) + "\r\n", 431},
      {"GET /healthz HTTP/1.1\r\n" + Repeat("X-A: " + std::string(7000, 'b') + "\r\n", 5), 431},
      {kPost + "Content-Length: 4097\r\n\r\n", 413},
      {chunked + "1001\r\n", 413},
      {chunked + Repeat("1\r\nc\r\n", 4000), 413},  // framing over its limit
      {kPost + "Content-Length: 3\r\nTransfer-Encoding: chunked\r\n\r\n", 400},
      {kPost + "Transfer-Encoding: gzip, chunked\r\n\r\n", 400},
      {kPost + "Content-Length: 3\r\nContent-Length: 4\r\n\r\nabc", 400},
      {chunked + "zz\r\n", 400},
      {chunked + "3\r\nabcX\r\n", 400},
      {kPost + "Content-Encoding: gzip\r\nContent-Length: 3\r\n\r\nabc", 415},
      // Heads that a lenient proxy in front would frame otherwise.
      {"GET /healthz HTTP/1.1\r\nTransfer-Encoding : chunked\r\n\r\n", 400},
      {"GET /healthz HTTP/1.1\r\nX-A: b\r\n c\r\n\r\n", 400},
      {"GET /healthz HTTP/1.1\r\nX-A: b\rc\r\n\r\n", 400},
      {std::string("GET /healthz HTTP/1.1\r\nX-A: b\0c\r\n\r\n", 35), 400},
  };
  for (const auto& c : cases) {
    e2e::RawClient client(api_.port());
    client.Send(c.request);
    const std::string answer = client.Receive(5000);
    SCOPED_TRACE(c.request.substr(0, 80) + " -> " + answer);
    EXPECT_EQ(e2e::StatusOf(answer), c.status);
    EXPECT_NE(answer.find("\r\nConnection: close\r\n"), std::string::npos);
    EXPECT_NE(answer.find("\r\nX-Content-Type-Options: nosniff\r\n"), std::string::npos);
    const size_t body = answer.find("\r\n\r\n");
    EXPECT_TRUE(body != std::string::npos &&
                json::parse(answer.substr(body + 4), nullptr, false)["error"].is_string());
    EXPECT_TRUE(client.closed());
  }
  EXPECT_EQ(refusedActions(), refusedBefore + 3);
}

// A chunked body is decoded for the handler; pipelined requests are answered
// in order. (FrontEndDeadlinesAndConnectionTable sends a body after "100
// Continue".)
TEST_F(AxoHttpApiTest, FrontEndServesChunkedAndPipelinedRequests) {
  e2e::RawClient client(api_.port());
  client.Send(kPost +
              "Transfer-Encoding: chunked\r\n\r\n6;x=1\r\nenable\r\n"
              "d\r\nMonitoring;s1\r\n0\r\n\r\nGET /healthz HTTP/1.1\r\nHost: a\r\n\r\n");
  const std::string answers = client.Receive(300);
  EXPECT_THAT(answers, testing::ContainsRegex("^HTTP/1.1 200 .*did enableMonitoring;s1.*"
                                              "HTTP/1.1 200 .*\"status\":\"ok\""));
  EXPECT_FALSE(client.closed());
}

// A request that does not arrive whole in time is answered 408; a
// connection without a request is closed when idle. One address holds its
// share of the table only; when the table is full the address holding the
// most makes room, and never with another's kept-alive connection.
TEST_F(AxoHttpApiTest, FrontEndDeadlinesAndConnectionTable) {
  Restart(200, 100);
  e2e::RawClient slow(api_.port());
  slow.Send("GET /healthz HTTP/1.1\r\nHost: a\r\n");
  const std::string answer = slow.Receive(5000);
  EXPECT_EQ(e2e::StatusOf(answer), 408) << answer;
  EXPECT_THAT(answer, HasSubstr("within 0.2 s"));
  EXPECT_TRUE(slow.closed());
  e2e::RawClient idle(api_.port());
  idle.Send("GET /healthz HTTP/1.1\r\n\r\n");
  EXPECT_EQ(e2e::StatusOf(idle.Receive(5000)), 200);
  EXPECT_TRUE(idle.closed());

  options_.maxConnectionsPerAddress = 2;
  Restart(60000, 3);
  const std::string health = "GET /healthz HTTP/1.1\r\nHost: a\r\n\r\n";
  e2e::RawClient scraper(api_.port(), "127.0.0.2");
  scraper.Send(health);
  EXPECT_EQ(e2e::StatusOf(scraper.Receive(300)), 200);  // and kept alive, idle longest
  e2e::RawClient first(api_.port()), second(api_.port()), third(api_.port());
  EXPECT_EQ(third.Receive(5000), "");
  EXPECT_TRUE(third.closed());  // past the address's share
  // An interim answer shows that the head was read: a request is under way.
  second.Send(kPost + "Expect: 100-continue\r\nContent-Length: 19\r\n\r\n");
  EXPECT_EQ(second.Receive(300), "HTTP/1.1 100 Continue\r\n\r\n");
  e2e::RawClient other(api_.port(), "127.0.0.3");
  EXPECT_EQ(first.Receive(5000), "");
  EXPECT_TRUE(first.closed());  // the most-holding address's idle one made room
  for (e2e::RawClient* c : {&scraper, &other}) {
    c->Send(health);
    EXPECT_EQ(e2e::StatusOf(c->Receive(300)), 200);
  }
  second.Send("enableMonitoring;s1");
  EXPECT_THAT(second.Receive(300), HasSubstr("did enableMonitoring;s1"));
}

// An action command that holds its worker until released.
std::mutex heldMu;
std::condition_variable heldCv;
int heldNow = 0, heldMost = 0;
bool heldRelease = false;
long HoldingHandler(VexorAutomationCapsule* capsule) {
  std::unique_lock<std::mutex> lock(heldMu);
  heldMost = std::max(heldMost, ++heldNow);
  heldCv.wait(lock, [] { return heldRelease; });
  --heldNow;
  lock.unlock();
  return EchoHandler(capsule);
}

// One address has two requests with the workers at most; the rest wait
// their turn on the reception side, and all are answered in the end.
TEST_F(AxoHttpApiTest, FrontEndServesTwoRequestsOfOneAddressAtOnce) {
  auto held = [] {
    const std::string text = axo::metrics::Expose(axo::metrics::Format::kPrometheus);
    const size_t at = text.find("\nzep_api_requests_held_total ");
    return at == std::string::npos ? -1.0 : std::stod(text.substr(at + 29));
  };
  const double before = held();
  AXO_RegisterCommandCallback("ZP", HoldingHandler);
  std::vector<std::unique_ptr<e2e::RawClient>> clients;
  for (int i = 0; i < 4; ++i) {
    clients.push_back(std::make_unique<e2e::RawClient>(api_.port()));
    clients.back()->Send(kPost + "Connection: close\r\nContent-Length: 6\r\n\r\nhold;" +
                         std::to_string(i));
  }
  EXPECT_TRUE(e2e::Eventually(10, [&] { return held() >= before + 2; }));
  {
    std::lock_guard<std::mutex> guard(heldMu);
    heldRelease = true;
  }
  heldCv.notify_all();
  for (auto& c : clients) EXPECT_THAT(c->Receive(5000), HasSubstr("did hold;"));
  EXPECT_EQ(heldMost, 2);
}

}  // namespace
