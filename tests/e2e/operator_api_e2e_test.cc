// End to end: the real zepagent with a private install directory, fed by the
// real zepdcsim, observed only through the operator API.
// These tests wait for the real processes (dispatcher passes of one second),
// bounded by deadlines; everything finer is tested in process.
#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include <nlohmann/json.hpp>

#include "axo/http_api.h"
#include "e2e/zepagent_process.h"

namespace {

using e2e::Agent;
using e2e::kBuild;
using e2e::Simulate;
using nlohmann::json;

// The --expect report: one map of column name to value per line.
std::vector<std::map<std::string, std::string>> ReadExpect(const std::string& path) {
  std::vector<std::map<std::string, std::string>> rows;
  std::istringstream in(e2e::ReadFile(path));
  std::vector<std::string> header;
  for (std::string line; std::getline(in, line);) {
    const std::vector<std::string> fields = e2e::CsvFields(line);
    if (header.empty()) {
      header = fields;
      continue;
    }
    rows.emplace_back();
    for (size_t i = 0; i < header.size() && i < fields.size(); ++i) rows.back()[header[i]] = fields[i];
  }
  return rows;
}

class OperatorApiE2eTest : public ::testing::Test {
 protected:
  e2e::TempDir tmp_;
};

TEST_F(OperatorApiE2eTest, IngestedTrafficShowsInEveryTableWithTheExpectedValues) {
  Agent agent(tmp_.path(), {});
  ASSERT_TRUE(agent.Up()) << agent.child().Err() << agent.Trace();
  std::string expect = tmp_.path() + "/expect.csv";
  ASSERT_EQ(Simulate("--dir " + agent.dir().logs + " --servers 2 --count 120 --step-ms 50 "
                     "--seed 11 --fault-ratio 0.25 --expect " + expect),
            0);
  ASSERT_TRUE(e2e::Eventually(30, [&] { return agent.Subnodes().size() == 2; }))
      << agent.Trace();
  std::vector<std::string> subnodes = agent.Subnodes();
  std::string first = "?subnode=" + e2e::UrlEncode(subnodes[0]);
  ASSERT_TRUE(e2e::Eventually(20, [&] { return agent.Rows("ZEPSMT", first).size() == 120; }));

  json smt = agent.Rows("ZEPSMT", first);
  std::string server = smt[0]["APPSRVNM"];
  EXPECT_EQ(smt[119]["ORIGINNODE"], subnodes[0]);
  std::vector<std::map<std::string, std::string>> expected;
  for (auto& row : ReadExpect(expect)) {
    if (row["server"] == server) expected.push_back(row);
  }
  ASSERT_FALSE(expected.empty());

  long faults = 0;
  for (auto& e : expected) faults += std::stol(e["fltcount"]);
  EXPECT_EQ(static_cast<long>(agent.Rows("ZEPFLCT", first).size()), faults);

  // Every expected window shows in the inventory with the same numbers.
  json inv = agent.Rows("ZEPINV", first);
  const std::pair<const char*, const char*> kColumns[] = {
      {"MSGCOUNT", "msgcount"},   {"AVGMSGLEN", "avgmsglen"}, {"SDMSGLEN", "sdmsglen"},
      {"MINMSGLEN", "minmsglen"}, {"MAXMSGLEN", "maxmsglen"}, {"ETMSGCOUNT", "etmsgcount"},
      {"AVGETIME", "avgetime"},   {"SDETIME", "sdetime"},     {"MINETIME", "minetime"},
      {"MAXETIME", "maxetime"},   {"FLTCOUNT", "fltcount"},   {"INTLENGTH", "intlength"}};
  for (auto& e : expected) {
    const json* match = nullptr;
    for (const json& row : inv) {
      if (row["SVCOPERTYP"] == e["svcopertyp"] && row["INTBEGTIME"] == e["intbegtime"]) {
        match = &row;
      }
    }
    ASSERT_NE(match, nullptr) << e["svcopertyp"] << " " << e["intbegtime"] << "\n" << inv.dump();
    for (const auto& [column, key] : kColumns) {
      EXPECT_EQ((*match)[column].get<long>(), std::stol(e[key]))
          << column << " of " << e["svcopertyp"];
    }
  }

  // A history request hands every server's lines over, each line once.
  EXPECT_EQ(agent.Rows("ZEPSMT", first + "&history=1").size(), 240u);
  EXPECT_EQ(agent.Rows("ZEPSMT", first + "&history=1").size(), 0u);
}

TEST_F(OperatorApiE2eTest, ActionCommandsNeedTheTokenAndChangeTheConfiguration) {
  Agent agent(tmp_.path(), {});
  ASSERT_TRUE(agent.Up()) << agent.child().Err();
  ASSERT_EQ(Simulate("--dir " + agent.dir().logs + " --count 5"), 0);
  ASSERT_TRUE(e2e::Eventually(30, [&] { return agent.Subnodes().size() == 1; }));
  // The server's defaults are written once its first file is read.
  ASSERT_TRUE(e2e::Eventually(10, [&] {
    return e2e::ReadFile(agent.dir().config).find("1.appsrv01.monitor") != std::string::npos;
  }));
  const std::string command =
      "addMonitorControl;appsrv01;Granite_Application_Server;host01.example.com;OrderPort;"
      "submitOrder;Full";
  EXPECT_EQ(agent.Post("/api/v1/actions", command, false).status, 401);
  EXPECT_EQ(e2e::ReadFile(agent.dir().config).find("submitOrder"), std::string::npos);

  e2e::HttpReply done = agent.Post("/api/v1/actions", command);
  ASSERT_EQ(done.status, 200) << done.body;
  EXPECT_EQ(json::parse(done.body)["rc"], 0) << done.body;
  EXPECT_NE(e2e::ReadFile(agent.dir().config).find("OrderPort;submitOrder"), std::string::npos);
  json again = json::parse(agent.Post("/api/v1/actions", command).body);
  EXPECT_EQ(again["rc"], 2) << again.dump();  // the same control twice is refused
}

// Every start-up failure ends the agent and says why on standard error: an
// unknown option with status 2 and nothing on standard output, an API
// address in use, a token file that cannot be read and a history database
// that cannot be opened with status 1.
TEST_F(OperatorApiE2eTest, StartUpFailuresExitWithTheReason) {
  axo::OperatorApi holder;
  axo::OperatorApiOptions o;
  o.port = 0;
  std::string error;
  ASSERT_TRUE(holder.Start(o, &error)) << error;
  const std::string root = tmp_.path();
  e2e::InstallDir dir(root);
  e2e::WriteFile(root + "/token", "t0ken\n");
  const struct {
    std::vector<std::string> args;
    int status;
    const char* reason;
  } cases[] = {
      {{"--no-such-option"}, 2, "unknown option: --no-such-option"},
      {{"--listen", "127.0.0.1:" + std::to_string(holder.port())}, 1, "cannot listen"},
      {{"--token-file", root + "/no-such-token"}, 1, "cannot read token file"},
      {{"--token-file", root + "/token", "--history-db", root + "/no/such/dir/h.db"}, 1,
       "cannot open history database"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reason);
    std::vector<std::string> argv = {kBuild + "/zepagent", "--trace-file", root + "/trace.log"};
    if (c.args[0] != "--listen") argv.insert(argv.end(), {"--listen", "127.0.0.1:0"});
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    e2e::Child agent(argv, {"ZEP_ETC_DIR=" + dir.etc}, root + "/out", root + "/err");
    EXPECT_EQ(agent.Wait(30), c.status);
    EXPECT_NE(agent.Err().find(c.reason), std::string::npos) << agent.Err();
    if (c.status == 2) {
      EXPECT_EQ(agent.Out(), "");
    }
  }
}

// Standard output carries the banner and nothing else; the trace goes to
// standard error; SIGTERM ends the agent cleanly.
TEST_F(OperatorApiE2eTest, BannerTraceAndCleanStopOnSigterm) {
  e2e::InstallDir dir(tmp_.path());
  e2e::Child agent({kBuild + "/zepagent", "--listen", "none"}, {"ZEP_ETC_DIR=" + dir.etc},
                   tmp_.path() + "/out", tmp_.path() + "/err");
  const std::string tail = "\nBuild ID: 200603281600\n";
  ASSERT_TRUE(e2e::Eventually(30, [&] {
    return agent.Out().find(tail) != std::string::npos &&
           agent.Err().find("Agent name is") != std::string::npos;
  })) << agent.Err();
  EXPECT_NE(agent.Err().find("ZEPAGENT Build ID: 200603281600"), std::string::npos);
  agent.Signal(SIGTERM);
  EXPECT_EQ(agent.Wait(30), 0) << agent.Err();
  const std::string out = agent.Out();
  EXPECT_EQ(out.rfind("Zephyr Service Monitor\n", 0), 0u) << out;
  EXPECT_EQ(out.find(tail), out.size() - tail.size()) << out;
}

}  // namespace
