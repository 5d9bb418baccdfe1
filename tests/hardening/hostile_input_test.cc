// Hostile input against the real agent, started as the package starts it:
// each case is an attack that once stalled, redirected or exhausted the
// agent, and shows that it no longer does. Grouped by what is attacked.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "e2e/zepagent_process.h"
#include "foundation/zeptestdir.h"

namespace {

using e2e::Agent;

class HostileInputTest : public ::testing::Test {
 protected:
  ZepTestDir tmp_;
};

// --- the log directory and the files the agent writes ------------------------

// --- requests before authentication ------------------------------------------

// The agent's peak resident memory (VmHWM) in KiB: a buffer that lived only
// for a moment still counts.
long PeakRssKiB(Agent& agent) {
  const std::string status =
      e2e::ReadFile("/proc/" + std::to_string(agent.child().pid()) + "/status");
  const size_t at = status.find("VmHWM:");
  return at == std::string::npos ? -1 : std::atol(status.c_str() + at + 6);
}

// Sends `head` and then `piece` up to `count` times, and `tail`, unless an
// answer comes first, as an attacker who streams a huge request would.
// Returns the answer.
std::string Flood(int port, const std::string& head, const std::string& piece, int count,
                  const std::string& tail) {
  e2e::RawClient client(port);
  std::string answer;
  bool open = client.Send(head);
  for (int i = 0; open && i < count && answer.empty(); ++i) {
    open = client.Send(piece);
    answer = client.Receive(0);
  }
  if (open && answer.empty()) client.Send(tail);
  return answer + client.Receive(15000);
}

// A body over the limit in chunks, and a head of 20,000 fields of 8 KB,
// are refused as soon as they cross their limits: nothing of them is kept.
TEST_F(HostileInputTest, HugeChunkedBodyAndHeadAreRefusedBeforeTheyAreRead) {
  Agent agent(tmp_.path(), {});
  ASSERT_TRUE(agent.Up()) << agent.child().Err();
  const long before = PeakRssKiB(agent);
  const std::string mib(1 << 20, 'x');
  const std::string body = Flood(agent.port(),
                                 "POST /api/v1/manager HTTP/1.1\r\nHost: a\r\n"
                                 "Transfer-Encoding: chunked\r\n\r\n",
                                 "100000\r\n" + mib + "\r\n", 64, "0\r\n\r\n");
  EXPECT_THAT(e2e::StatusOf(body), ::testing::AnyOf(413, 401)) << body.substr(0, 300);
  EXPECT_LT(PeakRssKiB(agent) - before, 16 * 1024) << "after the body";
  const std::string head = Flood(agent.port(), "GET /healthz HTTP/1.1\r\nHost: a\r\n",
                                 "X-Pad: " + std::string(8000, 'p') + "\r\n", 20000, "\r\n");
  EXPECT_EQ(e2e::StatusOf(head), 431) << head.substr(0, 300);
  EXPECT_LT(PeakRssKiB(agent) - before, 16 * 1024) << "after the head";
  EXPECT_EQ(agent.Get("/healthz").status, 200);
}

// Connections that never finish a request, or never start one, hold no
// thread: liveness and metrics answer at once beside them.
TEST_F(HostileInputTest, SlowAndIdleConnectionsDoNotDelayTheApi) {
  Agent agent(tmp_.path(), {});
  ASSERT_TRUE(agent.Up()) << agent.child().Err();
  std::vector<std::unique_ptr<e2e::RawClient>> idle, slow;
  for (int i = 0; i < 200; ++i) idle.push_back(std::make_unique<e2e::RawClient>(agent.port()));
  for (int i = 0; i < 8; ++i) {
    slow.push_back(std::make_unique<e2e::RawClient>(agent.port()));
    slow.back()->Send("GET /healthz HTTP/1.1\r\n");
  }
  for (const char* target : {"/healthz", "/metrics"}) {
    for (auto& c : slow) c->Send("X-Slow: 1\r\n");   // one more line, never the end
    httplib::Client client("127.0.0.1", agent.port());
    client.set_connection_timeout(1);
    client.set_read_timeout(1);
    httplib::Result r = client.Get(target);
    EXPECT_TRUE(r && r->status == 200) << target << " did not answer within 1 s";
  }
}

// --- operator objects, exposition, secrets and names --------------------------

}  // namespace
