// The real zepagent as the end-to-end tests run it: a child process on a
// private install directory and a free loopback port, with a bearer token,
// observed through its operator API and its trace file.
#ifndef TESTS_E2E_ZEPAGENT_PROCESS_H_
#define TESTS_E2E_ZEPAGENT_PROCESS_H_

#include <algorithm>
#include <ctime>
#include <memory>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "support/e2e_support.h"

namespace e2e {

using nlohmann::json;

inline const std::string kBuild = ZEP_BUILD_DIR;
inline const char* const kToken = "e2e-token-0123456789";

// One agent process on its own install directory and a free port, started
// from build/seams/zepagent: the agent with its test seams live
// (axo/base/testpause.h), so that `env` may pause, stall or move it. A new
// Agent on the same root is a restart: the install directory and its
// configuration file stay, the trace file starts empty.
class Agent {
 public:
  Agent(const std::string& root, const std::vector<std::string>& extra_args,
        std::vector<std::string> env = {})
      : dir_(root, "zep.axo.logReadSleepTimeSeconds=1\n"), trace_(root + "/trace.log") {
    WriteSecretFile(root + "/token", std::string(kToken) + "\n");
    WriteFile(trace_, "");
    std::vector<std::string> argv = {kBuild + "/seams/zepagent", "--listen", "127.0.0.1:0"};
    argv.insert(argv.end(), {"--token-file", root + "/token", "--trace-file", trace_});
    argv.insert(argv.end(), extra_args.begin(), extra_args.end());
    env.push_back("ZEP_ETC_DIR=" + dir_.etc);
    child_ = std::make_unique<Child>(argv, env, root + "/agent.out", root + "/agent.err");
  }

  // From now on, talks to the agent over TLS as `tls` says, with `headers`
  // (e.g. a user's basic credentials) on every request: for an agent
  // started with --web-config.
  void UseTls(const TlsClient& tls, std::vector<std::string> headers = {}) {
    tls_ = std::make_unique<TlsClient>(tls);
    headers_ = std::move(headers);
  }

  // From now on, sends `headers` on every request over plain HTTP.
  void UseHeaders(std::vector<std::string> headers) { headers_ = std::move(headers); }

  // Waits until the API answers; false when the agent never listened.
  bool Up() {
    static const std::regex kListening("listening on https?://127\\.0\\.0\\.1:([0-9]+)");
    return Eventually(30,
                      [&] {
                        std::smatch m;
                        const std::string trace = ReadFile(trace_);
                        // (An agent that ended ends the wait: Up() reports false below.)
                        if (!child_->Running() || !std::regex_search(trace, m, kListening))
                          return !child_->Running();
                        port_ = std::stoi(m[1]);
                        return Get("/healthz").status == 200;
                      }) &&
           child_->Running() && port_ > 0;
  }

  HttpReply Get(const std::string& target) { return Call("GET", target, "", headers_); }
  // A request that carries the bearer token.
  HttpReply Send(const std::string& method, const std::string& target,
                 const std::string& body = "") {
    return Call(method, target, body, {std::string("Authorization: Bearer ") + kToken});
  }
  json GetJson(const std::string& target) { return json::parse(Get(target).body, nullptr, false); }

  // The registered subnode names.
  std::vector<std::string> Subnodes() {
    std::vector<std::string> names;
    json j = GetJson("/api/v1/subnodes");
    for (const json& s : j.is_object() ? j["subnodes"] : json()) names.push_back(s["name"]);
    return names;
  }

  json Rows(const std::string& table, const std::string& query = "") {
    json j = GetJson("/api/v1/tables/" + table + query);
    return j.is_object() && j.contains("rows") ? j["rows"] : json::array();
  }

  const InstallDir& dir() const { return dir_; }
  int port() const { return port_; }
  Child& child() { return *child_; }
  std::string Trace() const { return ReadFile(trace_); }

 private:
  HttpReply Call(const std::string& method, const std::string& target, const std::string& body,
                 const std::vector<std::string>& headers) {
    return tls_ ? Https(port_, *tls_, method, target, body, headers)
                : Http(port_, method, target, body, headers);
  }

  InstallDir dir_;
  std::string trace_;
  std::unique_ptr<TlsClient> tls_;  // null: plain HTTP
  std::vector<std::string> headers_;
  std::unique_ptr<Child> child_;
  int port_ = 0;
};

// The first value of Prometheus's instant query `expr` on `port`, or ""
// when there is none.
inline std::string PromQuery(int port, const std::string& expr) {
  HttpReply r = Http(port, "GET", "/api/v1/query?query=" + UrlEncode(expr));
  json j = json::parse(r.body, nullptr, false);
  if (!j.is_object() || j["status"] != "success" || j["data"]["result"].empty()) return "";
  return j["data"]["result"][0]["value"][1].get<std::string>();
}

// Runs zepdcsim to completion with `args`.
// A run that compares aggregation windows holds the agent and the simulator
// on a clock 2 s into a 5-minute window, so that no window ends within the
// next 298 s: the agent gets WindowClockEnv(), the simulator
// "--time-base " + WindowClockNow().
inline long WindowClockOffset() {
  static const long offset = 2 - static_cast<long>(time(nullptr) % 300);
  return offset;
}
inline std::string WindowClockEnv() {
  return "ZEP_TEST_CLOCK_OFFSET=" + std::to_string(WindowClockOffset());
}
inline std::string WindowClockNow() { return std::to_string(time(nullptr) + WindowClockOffset()); }

inline int Simulate(const std::string& args) {
  return std::system((kBuild + "/zepdcsim " + args + " >/dev/null 2>&1").c_str());
}

// Starts zepdcsim writing into the log directory of the install directory
// at `root`, its output in `root`/sim.out and sim.err.
inline std::unique_ptr<Child> StartSimulator(const std::string& root,
                                             const std::vector<std::string>& args) {
  const std::string logs = root + "/install/ZEP/logs";
  std::filesystem::create_directories(logs);
  std::vector<std::string> argv = {kBuild + "/zepdcsim", "--dir", logs};
  argv.insert(argv.end(), args.begin(), args.end());
  return std::make_unique<Child>(argv, std::vector<std::string>{}, root + "/sim.out",
                                 root + "/sim.err");
}

// The CURRCORR field of every record of a simulator's --csv file.
inline std::vector<std::string> WrittenCorrelators(const std::string& csv) {
  std::vector<std::string> out;
  std::istringstream in(ReadFile(csv));
  std::string line;
  std::getline(in, line);  // the header
  while (std::getline(in, line)) out.push_back(CsvFields(line)[11]);
  return out;
}

}  // namespace e2e

#endif  // TESTS_E2E_ZEPAGENT_PROCESS_H_
