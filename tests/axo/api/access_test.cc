// Who may do what on the operator API, through real requests: the Host
// rule, the Origin and Sec-Fetch-Site rule of changes, the token, and the
// web configuration's users and headers.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "axo/api/http_api.h"
#include "axo/api/operator_api_fixture.h"
#include "axo/process/axo.h"
#include "axo/requests/request.h"
#include "support/e2e_support.h"

namespace {

using ::testing::HasSubstr;

const char kToken[] = "Authorization: Bearer tok-123";
const char kAlice[] = "Authorization: Basic YWxpY2U6c2VjcmV0";  // alice:secret

class AccessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    AXO_ResetForTesting();
    AXO_RegisterCommandCallback("ZP", EchoHandler);
    e2e::WriteFile(dir_.path("web.yml"),
                   "basic_auth_users:\n"
                   "  alice: $2y$04$VQDlvnsV6XCSZ6/JWnjNNuX2CYx8bApB76C57105JNrhWRwqgBOHO\n"
                   "http_server_config:\n  headers:\n    X-Frame-Options: deny\n");
    options_.port = 0;
    options_.webConfig = dir_.path("web.yml");
    options_.allowedHosts = "agent.example,proxy.example:8443";
  }
  void TearDown() override { api_.Stop(); }

  void Start(const std::string& token, bool open = false) {
    api_.Stop();
    options_.token = token;
    options_.allowUnauthenticatedChanges = open;
    ASSERT_TRUE(api_.Start(options_).ok());
  }
  e2e::HttpReply Call(const std::string& method, const std::string& target,
                      std::vector<std::string> headers) {
    return e2e::Http(api_.port(), method, target, method == "GET" ? "" : "enableMonitoring;s1",
                     headers);
  }
  std::string Self() { return "127.0.0.1:" + std::to_string(api_.port()); }

  ZepTestDir dir_;
  axo::api::OperatorApiOptions options_;
  axo::api::OperatorApi api_;
};

TEST_F(AccessTest, ReadsNeedAUserChangesTheTokenAndNeitherComesFromElsewhere) {
  Start("tok-123");
  const std::string port = std::to_string(api_.port());
  const struct {
    const char* method;
    const char* target;
    std::vector<std::string> headers;
    int status;
  } calls[] = {
      // Reads: a user's credentials, or the token.
      {"GET", "/metrics", {}, 401},
      {"GET", "/metrics", {kAlice}, 200},
      // (Wrong passwords: web_config_test.cc, and the network example end to end.)
      {"GET", "/metrics", {"Authorization: Basic Ym9iOnNlY3JldA=="}, 401},  // bob:secret
      {"GET", "/metrics", {kToken}, 200},
      {"GET", "/no/such/path", {}, 401},
      // Changes: the token only, and never from another site's page.
      {"POST", "/api/v1/actions", {kToken}, 200},
      {"POST", "/api/v1/actions", {kAlice}, 401},
      {"POST", "/api/v1/actions", {"Authorization: Bearer tok-12"}, 401},
      {"POST", "/api/v1/actions", {kToken, "Origin: http://evil.example"}, 403},
      {"POST", "/api/v1/actions", {kToken, "Origin: null"}, 403},
      {"POST", "/api/v1/actions", {kToken, "Origin: http://127.0.0.1:" + port + "/x"}, 403},
      {"POST", "/api/v1/actions", {kToken, "Sec-Fetch-Site: cross-site"}, 403},
      {"POST", "/api/v1/actions", {kToken, "Origin: http://127.0.0.1:" + port}, 200},
      {"POST", "/api/v1/actions", {kToken, "Sec-Fetch-Site: same-origin"}, 200},
      {"DELETE", "/api/v1/situations/S", {kToken, "Origin: https://evil.example"}, 403},
      // The Host names the agent: its address and port, loopback's names, the allowed.
      {"GET", "/healthz", {kAlice, "Host: evil.example:" + port}, 421},
      {"GET", "/healthz", {kAlice, "Host: evil.example"}, 421},
      {"GET", "/healthz", {kAlice, "Host: 127.0.0.1:1"}, 421},
      {"GET", "/healthz", {kAlice, "Host: localhost:" + port}, 200},
      {"GET", "/healthz", {kAlice, "Host: [::1]:" + port}, 200},
      {"GET", "/healthz", {kAlice, "Host: Agent.Example"}, 200},
      {"GET", "/healthz", {kAlice, "Host: proxy.example:8443"}, 200},
      {"GET", "/healthz", {kAlice, "Host: proxy.example"}, 421},
      {"POST",
       "/api/v1/actions",
       {kToken, "Host: evil.example", "Origin: http://evil.example"},
       421},
      {"POST",
       "/api/v1/actions",
       {kToken, "Host: agent.example", "Origin: http://agent.example"},
       200},
  };
  for (const auto& c : calls) {
    e2e::HttpReply r = Call(c.method, c.target, c.headers);
    SCOPED_TRACE(std::string(c.method) + " " + c.target + " " + testing::PrintToString(c.headers) +
                 " -> " + r.body);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.headers["X-Frame-Options"], "deny");  // the web configuration's headers
    EXPECT_EQ(r.headers.count("Access-Control-Allow-Origin"), 0u);
    if (c.status == 421) {
      EXPECT_EQ(r.body, "{\"error\":\"misdirected request\"}\n");
    }
    if (c.status == 401) {
      EXPECT_EQ(r.headers["WWW-Authenticate"].substr(0, 6),
                std::string(c.method) == "GET" ? "Basic " : "Bearer");
    }
  }
}

// Without a token, changes are refused; --allow-unauthenticated-changes
// opens them to whoever passes the read rule (here: a user).
TEST_F(AccessTest, WithoutATokenChangesAreRefusedUnlessOpenedOnPurpose) {
  Start("");
  e2e::HttpReply r = Call("POST", "/api/v1/actions", {kAlice});
  EXPECT_EQ(r.status, 403);
  EXPECT_THAT(r.body, HasSubstr("no operator token (--token-file)"));
  EXPECT_EQ(Call("POST", "/api/v1/manager", {}).status, 403);
  Start("", true);
  EXPECT_EQ(Call("POST", "/api/v1/actions", {kAlice}).status, 200);
  EXPECT_EQ(Call("POST", "/api/v1/actions", {}).status, 401);
  EXPECT_EQ(Call("POST", "/api/v1/actions", {kAlice, "Origin: http://evil.example"}).status, 403);
}

}  // namespace
