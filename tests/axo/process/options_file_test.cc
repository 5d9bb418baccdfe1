// Options: the command line, and the options file giving the same options,
// read from a file and re-read on request. (SIGHUP and the readiness datagrams of a running
// agent: tests/e2e/service_e2e_test.cc.)
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "axo/base/trk1.h"
#include "axo/process/axo.h"
#include "support/zeptestdir.h"

TRK1_UNIT(options_test_unit, "OPTTEST");

namespace {

class OptionsFileTest : public ::testing::Test {
 protected:
  void SetUp() override { AXO_ResetForTesting(); }
  void TearDown() override {
    AXO_ResetForTesting();
    TRK1_ResetLevels();
  }

  // A command line of zepagent with `args`, valid until the next call.
  char** Argv(std::vector<std::string> args) {
    args_ = std::move(args);
    args_.insert(args_.begin(), "zepagent");
    argv_.clear();
    for (std::string& a : args_) argv_.push_back(a.data());
    return argv_.data();
  }
  int Parse(std::vector<std::string> args, AXO_Options* o, std::string* error) {
    char** argv = Argv(std::move(args));
    return AXO_ParseOptionsForTesting(static_cast<int>(argv_.size()), argv, o, error);
  }

  ZepTestDir dir_;
  std::vector<std::string> args_;
  std::vector<char*> argv_;
};

// Defaults, every form of --listen, good and bad, and the other usage errors.
TEST_F(OptionsFileTest, TheCommandLineChecksEveryValue) {
  AXO_Options o;
  std::string error;
  ASSERT_EQ(Parse({}, &o, &error), AXO_OPTIONS_OK) << error;
  EXPECT_TRUE(o.listen);
  EXPECT_EQ(o.listenPort, 1920);
  EXPECT_EQ(o.historyTables, "");
  EXPECT_EQ(Parse({"--help"}, &o, &error), AXO_OPTIONS_HELP);
  EXPECT_EQ(Parse({"--version"}, &o, &error), AXO_OPTIONS_VERSION);

  for (const auto& [value, host, port] : {std::tuple{"10.1.2.3:8080", "10.1.2.3", 8080},
                                          {"[::1]:1920", "::1", 1920},
                                          {":46999", "127.0.0.1", 46999},
                                          {"65535", "127.0.0.1", 65535}}) {
    ASSERT_EQ(Parse({"--listen", value}, &o, &error), AXO_OPTIONS_OK) << value << error;
    EXPECT_EQ(o.listenHost, host);
    EXPECT_EQ(o.listenPort, port);
  }
  for (const char* bad :
       {"", "localhost", "host:", "host:65536", "70000", "+80", "host:8o", "::1:80", "[]:80"}) {
    SCOPED_TRACE(bad);
    EXPECT_EQ(Parse({"--listen", bad}, &o, &error), AXO_OPTIONS_ERROR);
    EXPECT_NE(error.find("HOST:PORT, :PORT, PORT or none"), std::string::npos) << error;
  }
  const std::vector<std::vector<std::string>> errors = {{"--bogus"},
                                                        {"stray"},
                                                        {"--listen"},
                                                        {"--history-interval", "0"},
                                                        {"--alertmanager-url", "am:9093"},
                                                        {"--allowed-hosts", "a,,b"},
                                                        {"--allowed-hosts", "a:0"},
                                                        {"--allow-unauthenticated-changes=yes"}};
  for (const auto& args : errors) {
    EXPECT_EQ(Parse(args, &o, &error), AXO_OPTIONS_ERROR) << args[0];
    EXPECT_NE(error.find(args[0].substr(0, args[0].find('='))), std::string::npos) << error;
  }
  // A flag stands alone; --check-web-config is a run of its own.
  ASSERT_EQ(Parse({"--allow-unauthenticated-changes", "--allowed-hosts", "a.example,[::1]:9,b:80"},
                  &o, &error),
            AXO_OPTIONS_OK)
      << error;
  EXPECT_TRUE(o.allowUnauthenticatedChanges);
  EXPECT_EQ(o.allowedHosts, "a.example,[::1]:9,b:80");
  EXPECT_EQ(Parse({"--check-web-config", "web.yml"}, &o, &error), AXO_OPTIONS_CHECKED);
}

TEST_F(OptionsFileTest, FileGivesEveryOptionAndTheCommandLineWins) {
  const std::string file = dir_.path("zepagent.conf");
  dir_.write("zepagent.conf",
             "# every option\n\n"
             "listen = 127.0.0.1:0\n  token-file=/t\ntrace = all=128,OPTTEST=0x41\n"
             "trace-file = /x.log\nhistory-db = /h.db\nhistory-interval = 60\n"
             "history-tables = ZEPSMT\nhistory-interval = 61\n");
  AXO_Options o;
  std::string error;
  ASSERT_EQ(Parse({"--config", file}, &o, &error), AXO_OPTIONS_OK) << error;
  EXPECT_EQ(o.listenPort, 0);
  EXPECT_EQ(o.tokenFile, "/t");
  EXPECT_EQ(o.trace, "all=128,OPTTEST=0x41");
  EXPECT_EQ(o.traceFile, "/x.log");
  EXPECT_EQ(o.historyDb, "/h.db");
  EXPECT_EQ(o.historyInterval, 61);  // the later line
  EXPECT_EQ(o.historyTables, "ZEPSMT");
  EXPECT_EQ(o.configFile, file);

  ASSERT_EQ(Parse({"--listen", "none", "--config=" + file, "--history-interval=90"}, &o, &error),
            AXO_OPTIONS_OK);
  EXPECT_FALSE(o.listen);
  EXPECT_EQ(o.historyInterval, 90);
  EXPECT_EQ(o.historyDb, "/h.db");
}

TEST_F(OptionsFileTest, ABadLineStopsWithFileLineAndReason) {
  const std::string file = dir_.path("bad.conf");
  const struct {
    const char* text;
    const char* error;
  } cases[] = {
      {"# fine\nbogus = 1\n", ":2: unknown option: bogus"},
      {"history-interval = 5s\n", ":1: bad value for history-interval: 5s"},
      {"listen\n", ":1: expected key = value"},
      {"config = other\n", ":1: config cannot be set in an options file"},
      {"check-web-config = w.yml\n", ":1: check-web-config cannot be set in an options file"},
      {"allow-unauthenticated-changes\n", ":1: expected key = value"},
  };
  AXO_Options o;
  std::string error;
  for (const auto& c : cases) {
    dir_.write("bad.conf", c.text);
    EXPECT_EQ(Parse({"--config", file}, &o, &error), AXO_OPTIONS_ERROR) << c.text;
    EXPECT_EQ(error, file + c.error);
  }
  EXPECT_EQ(Parse({"--config", dir_.path("missing")}, &o, &error), AXO_OPTIONS_ERROR);
  EXPECT_EQ(error, "cannot read the options file " + dir_.path("missing") + ": " +
                       dir_.path("missing") + " does not exist");
}

TEST_F(OptionsFileTest, ReloadAppliesTraceAndHooksAndNamesWhatNeedsARestart) {
  const std::string file = dir_.path("zepagent.conf");
  dir_.write("zepagent.conf", "listen = none\ntrace = OPTTEST=128\nhistory-interval = 60\n");
  char** argv = Argv({"--config", file, "--history-tables", "ZEPSMT"});
  int argc = static_cast<int>(argv_.size());
  ASSERT_EQ(OSB1_Main(&argc, argv, "zepagent"), 0);
  int calls = 0;
  AXO_OnReload({"history-interval"}, [&](const AXO_Options& before, const AXO_Options& after) {
    ++calls;
    EXPECT_EQ(before.historyInterval, 60);
    EXPECT_EQ(after.historyInterval, 30);
  });
  AXO_OnReload({"token-file"}, [&](const AXO_Options&, const AXO_Options&) { ++calls; });

  dir_.write("zepagent.conf",
             "listen = :0\ntrace = OPTTEST=1\nhistory-interval = 30\nhistory-tables = X\n");
  TRK1_Capture capture;
  EXPECT_EQ(AXO_ReloadOptions(), 0);
  EXPECT_EQ(calls, 1);
  EXPECT_TRUE(TRK1_On(&options_test_unit, TRK1_DETAIL));
  EXPECT_FALSE(TRK1_On(&options_test_unit, TRK1_ERROR));  // set anew, not added
  EXPECT_TRUE(capture.contains("AXO0012I Option history-interval changed from 60 to 30: applied"));
  EXPECT_FALSE(capture.contains("history-tables"));  // the command line still wins
  EXPECT_EQ(AXO_GetOptions().historyInterval, 30);

  dir_.write("zepagent.conf", "history-interval = never\n");
  EXPECT_EQ(AXO_ReloadOptions(), 1);
  EXPECT_TRUE(capture.contains("AXO0011E Options not reloaded, the running ones stay: " + file +
                               ":1: bad value"));
  EXPECT_EQ(AXO_GetOptions().historyInterval, 30);
}

}  // namespace
