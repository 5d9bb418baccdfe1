// The operator API in process for its tests and the front end's: a
// listener on a free loopback port over the framework's small test tables,
// with the token and an action command that echoes.
#ifndef AXO_API_OPERATOR_API_FIXTURE_H_
#define AXO_API_OPERATOR_API_FIXTURE_H_

#include <gtest/gtest.h>

#include <chrono>
#include <cstddef>
#include <nlohmann/json.hpp>
#include <string>

#include "axo/api/http_api.h"
#include "axo/process/axo.h"
#include "axo/requests/request.h"
#include "axo/requests/test_table.h"
#include "support/e2e_support.h"

inline constexpr char kAuth[] = "Authorization: Bearer s3cret-token";

inline long EchoHandler(VexorAutomationCapsule* capsule) {
  capsule->SetMessage((std::string("did ") + capsule->GetCommand()).c_str());
  capsule->GetVexor()->FinishedAutomationCommand(capsule);
  return 0;
}

class AxoHttpApiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    AXO_ResetForTesting();
    ASSERT_EQ(TableManager::RegisterWithManager(&sampled_), 0u);
    sampled_.rows = {MakeRow("alpha", 1, 100), MakeRow("beta, \"b\"", 2, 200),
                     MakeRow("gamma", 3, 300)};
    AXO_RegisterCommandCallback("ZP", EchoHandler);
    EXPECT_EQ(options_.host, "127.0.0.1");  // loopback unless told otherwise
    options_.port = 0;
    options_.token = "s3cret-token";
    options_.allowedHosts = "a";  // the raw requests' Host
    options_.maxBodyBytes = 4096;
    ASSERT_TRUE(api_.Start(options_).ok());
  }
  // Starts the listener again with deadlines of `ms` milliseconds and
  // `connections` at most.
  void Restart(int ms, size_t connections) {
    api_.Stop();
    options_.requestTimeout = options_.idleTimeout = std::chrono::milliseconds(ms);
    options_.maxConnections = connections;
    ASSERT_TRUE(api_.Start(options_).ok());
  }
  void TearDown() override {
    api_.Stop();
    axo::resetSituationsForTesting();
  }

  e2e::HttpReply Get(const std::string& target) { return e2e::Http(api_.port(), "GET", target); }
  e2e::HttpReply Post(const std::string& target, const std::string& body) {
    return e2e::Http(api_.port(), "POST", target, body, {kAuth});
  }
  static nlohmann::json Body(const e2e::HttpReply& r) {
    return nlohmann::json::parse(r.body, nullptr, false);
  }

  TestManager sampled_{"AXOSMP", false};
  axo::api::OperatorApiOptions options_;
  axo::api::OperatorApi api_;
};

#endif  // AXO_API_OPERATOR_API_FIXTURE_H_
