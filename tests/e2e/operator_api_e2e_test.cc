// End to end: the real zepagent with a private install directory, fed by the
// real zepdcsim, observed only through the operator API.
// These tests wait for the real processes (dispatcher passes of one second),
// bounded by deadlines; everything finer is tested in process.
#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "e2e/zepagent_process.h"

namespace {

using namespace e2e;

// The lines of `server` in the --expect report: column name to value.
std::vector<std::map<std::string, std::string>> ReadExpect(const std::string& path,
                                                           const std::string& server) {
  std::vector<std::map<std::string, std::string>> rows;
  std::istringstream in(e2e::ReadFile(path));
  std::string line;
  std::getline(in, line);
  const std::vector<std::string> header = e2e::CsvFields(line);
  while (std::getline(in, line)) {
    const std::vector<std::string> fields = e2e::CsvFields(line);
    if (fields[0] != server) continue;  // the first column
    std::map<std::string, std::string>& row = rows.emplace_back();
    for (size_t i = 0; i < header.size() && i < fields.size(); ++i) row[header[i]] = fields[i];
  }
  return rows;
}

TEST(OperatorApiE2eTest, IngestedTrafficShowsInEveryTableWithTheExpectedValues) {
  e2e::TempDir tmp;
  // On the shifted clock every record lies in the running window.
  Agent agent(tmp.path(), {}, {e2e::WindowClockEnv()});
  ASSERT_TRUE(agent.Up()) << agent.child().Err() << agent.Trace();
  const std::string expect = tmp.path() + "/expect.csv";
  ASSERT_EQ(Simulate("--dir " + agent.dir().logs +
                     " --servers 2 --count 120 --step-ms 50 "
                     "--seed 11 --fault-ratio 0.25 --time-base " +
                     e2e::WindowClockNow() + " --expect " + expect),
            0);
  ASSERT_TRUE(e2e::Eventually(30, [&] { return agent.Subnodes().size() == 2; })) << agent.Trace();
  const std::string subnode = agent.Subnodes()[0], first = "?subnode=" + e2e::UrlEncode(subnode);
  ASSERT_TRUE(e2e::Eventually(20, [&] { return agent.Rows("ZEPSMT", first).size() == 120; }));

  json smt = agent.Rows("ZEPSMT", first);
  EXPECT_EQ(smt[119]["ORIGINNODE"], subnode);
  auto expected = ReadExpect(expect, smt[0]["APPSRVNM"]);
  ASSERT_FALSE(expected.empty());

  long faults = 0;
  for (auto& e : expected) faults += std::stol(e["fltcount"]);
  EXPECT_EQ(static_cast<long>(agent.Rows("ZEPFLCT", first).size()), faults);

  // Every expected window shows in the inventory with the same numbers.
  json inv = agent.Rows("ZEPINV", first);
  // Each column, named in lower case in the report.
  const std::string kColumns[] = {"MSGCOUNT",  "AVGMSGLEN",  "SDMSGLEN", "MINMSGLEN",
                                  "MAXMSGLEN", "ETMSGCOUNT", "AVGETIME", "SDETIME",
                                  "MINETIME",  "MAXETIME",   "FLTCOUNT", "INTLENGTH"};
  for (auto& e : expected) {
    const json* match = nullptr;
    for (const json& row : inv) {
      if (row["SVCOPERTYP"] == e["svcopertyp"] && row["INTBEGTIME"] == e["intbegtime"])
        match = &row;
    }
    ASSERT_NE(match, nullptr) << e["svcopertyp"] << " " << e["intbegtime"] << "\n" << inv.dump();
    for (const std::string& column : kColumns) {
      std::string key = column;
      for (char& c : key) c = static_cast<char>(tolower(c));
      EXPECT_EQ((*match)[column].get<long>(), std::stol(e[key]))
          << column << " of " << e["svcopertyp"];
    }
  }

  // A history request hands every server's lines over, each line once.
  EXPECT_EQ(agent.Rows("ZEPSMT", first + "&history=1").size(), 240u);
  EXPECT_EQ(agent.Rows("ZEPSMT", first + "&history=1").size(), 0u);

  // A manager STOP reaches the agent's own entry point, which ends it.
  EXPECT_EQ(agent.Send("POST", "/api/v1/manager", R"({"words": ["", "", "STOP"]})").status, 200);
  EXPECT_EQ(agent.child().Wait(30), 0) << agent.Trace();
}

// Every start-up failure ends the agent and says why on standard error: an
// unknown option with status 2 and nothing on standard output, an API
// address in use, a token file that cannot be read or that others may read
// or replace, a FIFO as token file or web configuration (where a read would
// wait for a writer), a web configuration refused and a history database
// that cannot be opened with status 1.
// --check-web-config judges the same file and ends: status 1 and the
// reason, or 0 and "OK".
TEST(OperatorApiE2eTest, StartUpFailuresExitWithTheReason) {
  e2e::TempDir tmp;
  e2e::HttpSink holder;  // holds a port
  const std::string root = tmp.path();
  e2e::InstallDir dir(root);
  e2e::WriteSecretFile(root + "/token", "t0ken\n");
  for (const char* name : {"/open", "/foreign"}) e2e::WriteSecretFile(root + name, "t0ken\n");
  ASSERT_EQ(chmod((root + "/open").c_str(), 0666), 0);
  ASSERT_EQ(chown((root + "/foreign").c_str(), 4242, static_cast<gid_t>(-1)), 0) << "run as root";
  ASSERT_EQ(mkfifo((root + "/fifo").c_str(), 0600), 0);
  e2e::WriteFile(root + "/bad.yml", "basic_auth_users:\n  alice: secret\n");
  e2e::WriteFile(root + "/good.yml", "basic_auth_users: {}\n");
  const struct {
    std::vector<std::string> args;
    int status;
    const char* reason;
  } cases[] = {
      {{"--no-such-option"}, 2, "unknown option: --no-such-option"},
      {{"--listen", "127.0.0.1:" + std::to_string(holder.port())}, 1, "cannot listen"},
      {{"--token-file", root + "/no-such-token"}, 1, "cannot read token file"},
      {{"--token-file", root + "/open"}, 1, "/open has mode 0666: it must be readable and"},
      {{"--token-file", root + "/foreign"}, 1, "/foreign is owned by user 4242"},
      {{"--token-file", root + "/fifo"}, 1, "/fifo is a FIFO, not a regular file"},
      {{"--web-config", root + "/fifo"}, 1, "/fifo is a FIFO, not a regular file"},
      {{"--web-config", root + "/bad.yml"}, 1, "bad.yml: basic_auth_users.alice: not a bcrypt"},
      {{"--check-web-config", root + "/bad.yml"}, 1, "bad.yml: basic_auth_users.alice: not a"},
      {{"--check-web-config", root + "/good.yml"}, 0, ""},
      {{"--token-file", root + "/token", "--history-db", root + "/no/such/dir/h.db"},
       1,
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
    EXPECT_EQ(c.status == 2 ? agent.Out() : "", "");  // a usage error prints nothing else
    if (c.args[0] == "--check-web-config") {
      EXPECT_EQ(agent.Out(), c.status == 0 ? "OK\n" : "");
    }
  }
}

}  // namespace
