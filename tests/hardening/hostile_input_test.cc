// Hostile input against the real agent, started as the package starts it:
// each case is an attack that once stalled, redirected or exhausted the
// agent, and shows that it no longer does. Grouped by what is attacked.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "axo/process/axo.h"
#include "e2e/zepagent_process.h"
#include "logs/zeplogs_test_util.h"
#include "support/zeptestdir.h"

namespace {

using e2e::Agent;

class HostileInputTest : public ::testing::Test {
 protected:
  ZepTestDir tmp_;
};

// --- the log directory and the files the agent writes ------------------------

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// The value of the series `series` (name and labels as exposed) in
// `exposition`, or -1 when it is not there.
double SeriesValue(const std::string& exposition, const std::string& series) {
  std::istringstream in(exposition);
  for (std::string line; std::getline(in, line);) {
    if (line.compare(0, series.size() + 1, series + " ") == 0) {
      return std::stod(line.substr(series.size() + 1));
    }
  }
  return -1;
}

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

// Any member of the log and configuration directories' group can put a FIFO
// or a link there. The agent goes on taking the simulator's files, answers /metrics at once,
// leaves both names where they are without reading through them, and
// reports each once (not at every pass) and counts it.
TEST_F(HostileInputTest, FifosAndLinksInGroupWritableDirectoriesNeitherStallNorRedirect) {
  const std::string root = tmp_.path();
  Agent agent(root, {});
  const std::string logs = agent.dir().logs;
  e2e::WriteFile(root + "/victim", "#ZEP.env=1\n#ZEP.servername=victim\n1;" +
                                       std::to_string(time(nullptr) * 1000LL) +
                                       ";t;1;P;O;0;0;1;c;0;p;h;10.0.0.1;;\n");
  ASSERT_EQ(mkfifo((logs + "/ZEP.fifo.000001.metric.log").c_str(), 0660), 0);
  ASSERT_EQ(symlink((root + "/victim").c_str(), (logs + "/ZEP.link.metric.log").c_str()), 0);
  ASSERT_TRUE(agent.Up()) << agent.Trace();
  auto sim = e2e::StartSimulator(root, {"--servers", "2", "--rate", "200", "--file-seconds", "1"});

  ASSERT_TRUE(e2e::Eventually(30, [&] { return agent.Subnodes().size() == 2; })) << agent.Trace();
  std::string metrics;
  EXPECT_TRUE(e2e::Eventually(
      30,
      [&] {
        metrics =
            agent.Get("/metrics?name=zep_records_read_total&name=zep_dispatcher_pass_seconds").body;
        return SeriesValue(metrics, "zep_records_read_total") >= 400 &&
               SeriesValue(metrics, "zep_dispatcher_pass_seconds_count") >= 5;
      }))
      << metrics << agent.Trace();
  const Clock::time_point asked = Clock::now();
  const e2e::HttpReply scrape = agent.Get("/metrics");
  EXPECT_EQ(scrape.status, 200);
  EXPECT_LT(Seconds(asked), 1.0);
  EXPECT_EQ(SeriesValue(scrape.body, "zep_files_skipped_total{reason=\"fifo\"}"), 1);
  EXPECT_EQ(SeriesValue(scrape.body, "zep_files_skipped_total{reason=\"symlink\"}"), 1);

  const std::string trace = agent.Trace();
  for (const std::string& name :
       {"not a regular file: " + logs + "/ZEP.fifo.000001.metric.log (fifo)",
        "not a regular file: " + logs + "/ZEP.link.metric.log (symlink)"}) {
    size_t n = 0;
    for (size_t at = trace.find(name); at != std::string::npos; at = trace.find(name, at + 1)) ++n;
    EXPECT_EQ(n, 1u) << name << "\n" << trace;
  }
  EXPECT_TRUE(fs::is_fifo(logs + "/ZEP.fifo.000001.metric.log"));
  EXPECT_TRUE(fs::is_symlink(logs + "/ZEP.link.metric.log"));
  for (const std::string& subnode : agent.Subnodes()) {
    EXPECT_EQ(subnode.find("victim"), std::string::npos) << subnode;
  }

  // The configuration file replaced by a link is not written through: the
  // action that would save fails, the target and the link stay.
  const std::string config = agent.dir().config;
  ASSERT_EQ(unlink(config.c_str()), 0);
  ASSERT_EQ(symlink((root + "/victim").c_str(), config.c_str()), 0);
  const std::string victim = e2e::ReadFile(root + "/victim");
  const e2e::HttpReply reply = agent.Send("POST", "/api/v1/actions", "setKeyVal zep.k=v");
  EXPECT_TRUE(reply.status == 200 && e2e::json::parse(reply.body)["rc"] == 2) << reply.body;
  EXPECT_EQ(e2e::ReadFile(root + "/victim"), victim);
  EXPECT_TRUE(fs::is_symlink(config));
  EXPECT_NE(agent.Trace().find("ZEP00209E Property file refused, not a regular file: " + config),
            std::string::npos);
}

// A dispatcher stalled inside its pass, holding its locks (the test seam of
// axo/base/testpause.h): a table query answers 503 within its bound, /metrics
// answers, /healthz answers 503 naming the dispatcher once it missed its
// rounds, and SIGTERM ends the agent within the shutdown bound.
TEST_F(HostileInputTest, AStalledDispatcherStallsNeitherTheApiNorTheShutdown) {
  const std::string root = tmp_.path();
  const std::string stall = root + "/stall";
  const std::string clock = root + "/clock";
  Agent agent(root, {},
              {"ZEP_TEST_STALL_AT=dispatcher-pass", "ZEP_TEST_STALL_FILE=" + stall,
               "ZEP_TEST_CLOCK_FILE=" + clock});
  ASSERT_TRUE(agent.Up()) << agent.Trace();
  EXPECT_EQ(agent.Get("/api/v1/tables/ZEPSMT").status, 200);
  e2e::WriteFile(stall, "");
  ASSERT_TRUE(e2e::Eventually(15, [&] {
    return agent.child().Err().find("AXO_TestStallPoint dispatcher-pass") != std::string::npos;
  })) << agent.child().Err();

  Clock::time_point asked = Clock::now();
  const e2e::HttpReply table = agent.Get("/api/v1/tables/ZEPSMT");
  EXPECT_EQ(table.status, 503) << table.body;
  EXPECT_NE(table.body.find("the agent's data stayed locked for 5 s"), std::string::npos)
      << table.body;
  EXPECT_LT(Seconds(asked), 7.0);
  asked = Clock::now();
  EXPECT_EQ(agent.Get("/metrics").status, 200);
  EXPECT_LT(Seconds(asked), 3.0);

  // Its rounds are a second apart: stuck after 30 s without one. The
  // framework clock is moved on instead of waiting.
  e2e::HttpReply health = agent.Get("/healthz");
  EXPECT_EQ(health.status, 200) << health.body;
  e2e::WriteFile(clock, "31\n");
  EXPECT_TRUE(e2e::Eventually(5, [&] { return (health = agent.Get("/healthz")).status == 503; }))
      << health.body;
  const e2e::json h = e2e::json::parse(health.body, nullptr, false);
  ASSERT_TRUE(h.is_object()) << health.body;
  EXPECT_EQ(h["status"], "stuck");
  EXPECT_EQ(h["parts"]["dispatcher"]["state"], "stuck");
  EXPECT_NE(h.value("reason", std::string()).find("dispatcher"), std::string::npos);

  asked = Clock::now();
  agent.child().Signal(SIGTERM);
  EXPECT_EQ(agent.child().Wait(20), AXO_SHUTDOWN_UNFINISHED);
  EXPECT_LT(Seconds(asked), 13.0);
  EXPECT_NE(agent.Trace().find("AXO0003E Shutdown did not finish within 10 s: dispatcher is "
                               "still stopping"),
            std::string::npos)
      << agent.Trace();
}

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
TEST_F(HostileInputTest, HugeSlowAndIdleRequestsNeitherExhaustNorDelayTheApi) {
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

  // Connections that never finish a request, or never start one, hold no
  // thread: liveness and metrics answer at once beside them.
  std::vector<std::unique_ptr<e2e::RawClient>> idle, slow;
  for (int i = 0; i < 200; ++i) idle.push_back(std::make_unique<e2e::RawClient>(agent.port()));
  for (int i = 0; i < 8; ++i) {
    slow.push_back(std::make_unique<e2e::RawClient>(agent.port()));
    slow.back()->Send("GET /healthz HTTP/1.1\r\n");
  }
  for (const char* target : {"/healthz", "/metrics"}) {
    for (auto& c : slow) c->Send("X-Slow: 1\r\n");  // one more line, never the end
    httplib::Client client("127.0.0.1", agent.port());
    client.set_connection_timeout(1);
    client.set_read_timeout(1);
    httplib::Result r = client.Get(target);
    EXPECT_TRUE(r && r->status == 200) << target << " did not answer within 1 s";
  }
}

// --- operator objects, exposition, secrets and names --------------------------

// A message-count situation on ZEPMATT, its limit telling it apart.
std::string Situation(const std::string& name, int limit) {
  return R"({"name": ")" + name + R"(", "table": "ZEPMATT", "conditions": [
      {"attribute": "RMIPADDR", "op": "=", "value": "*"},
      {"attribute": "PORTNAME", "op": "=", "value": "*"},
      {"attribute": "TMINT", "op": "=", "value": 60},
      {"attribute": "MSGCNT", "op": ">=", "value": )" +
         std::to_string(limit) + "}]}";
}

// Situations are bounded in number (the default 1,000), in name (a name
// such as "a/b" could be created but never deleted by its URL) and, on a
// table the framework samples, in interval; history names only tables.
TEST_F(HostileInputTest, SituationsAreBoundedInNumberNameAndInterval) {
  Agent agent(tmp_.path(), {"--history-db", tmp_.path() + "/history.db"});
  ASSERT_TRUE(agent.Up()) << agent.Trace();
  auto create = [&](const std::string& body) {
    return agent.Send("POST", "/api/v1/situations", body);
  };
  for (int i = 0; i < 1000; ++i) {
    ASSERT_EQ(create(Situation("S" + std::to_string(i), i)).status, 201) << i;
  }
  e2e::HttpReply r = create(Situation("S1000", 1000));
  EXPECT_EQ(r.status, 429) << r.body;
  EXPECT_NE(r.body.find("at most 1000"), std::string::npos) << r.body;

  r = create(Situation("a/b", 1));
  EXPECT_EQ(r.status, 400) << r.body;
  EXPECT_NE(r.body.find("a letter, a digit, '_', '.' or '-'"), std::string::npos) << r.body;
  r = create(R"({"name": "Sampled", "table": "ZEPSMT", "interval": 1, "conditions": []})");
  EXPECT_EQ(r.status, 400) << r.body;
  EXPECT_NE(r.body.find("at least 10 seconds"), std::string::npos) << r.body;

  // Room again: every name the rule lets in is deleted by its URL.
  ASSERT_EQ(agent.Send("DELETE", "/api/v1/situations/S0").status, 200);
  ASSERT_EQ(create(Situation("Odd.name-1_x", 1)).status, 201);
  EXPECT_EQ(agent.Send("DELETE", "/api/v1/situations/Odd.name-1_x").status, 200);

  // History is read from the published tables only, never from the store's
  // own (sqlite_master would list the database's schema).
  r = agent.Get("/api/v1/history/sqlite_master");
  EXPECT_EQ(r.status, 404) << r.body;
  EXPECT_NE(r.body.find("unknown table"), std::string::npos) << r.body;
}

// A server name and an operation holding bytes that are not UTF-8: both
// exposition formats stay valid, so a scraper keeps every metric. promtool
// parses OpenMetrics with the text format's rules, and lints the counter
// families OpenMetrics names without "_total" ("no help text"), so there
// only a parse error counts.
TEST_F(HostileInputTest, BadBytesInNamesLeaveBothExpositionFormatsValid) {
  Agent agent(tmp_.path(), {});
  ASSERT_TRUE(agent.Up()) << agent.Trace();
  const std::string logs = agent.dir().logs;
  e2e::WriteFile(logs + "/.bad.tmp",
                 zeplogs_test::header("bad\xff\xfesrv") +
                     zeplogs_test::lines({zeplogs_test::record(1, time(nullptr) * 1000LL, 10,
                                                               "OrderPort", "op\xff\xfe")}));
  ASSERT_EQ(rename((logs + "/.bad.tmp").c_str(), (logs + "/ZEP.bad.000001.metric.log").c_str()), 0);
  ASSERT_TRUE(e2e::Eventually(30, [&] {
    return agent.Get("/metrics?name=zep_messages_total").body.find("zep_messages_total{") !=
           std::string::npos;
  })) << agent.Trace();

  for (const bool openMetrics : {false, true}) {
    SCOPED_TRACE(openMetrics ? "OpenMetrics" : "text 0.0.4");
    const std::string file = tmp_.path() + "/metrics.txt";
    e2e::WriteFile(file, e2e::Http(agent.port(), "GET", "/metrics", "",
                                   {openMetrics ? "Accept: application/openmetrics-text"
                                                : "Accept: text/plain"})
                             .body);
    std::string out;
    const int status = e2e::RunCommand("/usr/bin/promtool check metrics < " + file, &out);
    EXPECT_EQ(out.find("error"), std::string::npos) << out;
    if (!openMetrics) {
      EXPECT_EQ(status, 0) << out;
    }
  }
}

// A token file that others may read or replace stops the start with its
// path and mode (or owner) on standard error and status 1.
TEST_F(HostileInputTest, ATokenFileOthersMayReadIsRefusedAtStart) {
  e2e::InstallDir dir(tmp_.path());
  const std::string token = tmp_.path() + "/token";
  const std::tuple<mode_t, uid_t, std::string> cases[] = {
      {0666, 0, " has mode 0666: it must be readable and writable by its owner only (chmod 600)"},
      {0600, 4242, " is owned by user 4242"}};
  for (const auto& [mode, owner, reason] : cases) {
    SCOPED_TRACE(reason);
    e2e::WriteSecretFile(token, "t0ken\n");
    ASSERT_EQ(chmod(token.c_str(), mode), 0);
    ASSERT_EQ(chown(token.c_str(), owner, static_cast<gid_t>(-1)), 0) << "the tests run as root";
    e2e::Child agent({e2e::kBuild + "/zepagent", "--listen", "127.0.0.1:0", "--token-file", token,
                      "--trace-file", tmp_.path() + "/trace.log"},
                     {"ZEP_ETC_DIR=" + dir.etc}, tmp_.path() + "/out", tmp_.path() + "/err");
    EXPECT_EQ(agent.Wait(30), 1);
    EXPECT_NE(agent.Err().find("token file " + token + reason), std::string::npos) << agent.Err();
  }
}

}  // namespace
