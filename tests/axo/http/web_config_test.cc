// The web configuration file: what loads, what is refused and why, and the
// basic-auth users it names. (Reloads: tls_test.cc, through the API.)
#include "axo/http/web_config.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "axo/http/basic_auth.h"
#include "support/e2e_support.h"

namespace {

using ::testing::HasSubstr;

// Two private authorities, "a" and "b", each with its agent's key and
// certificate, made by the README's script.
class WebConfigTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* ca : {"a", "b"}) {
      std::filesystem::create_directory(dir_.path(ca));
      ASSERT_EQ(e2e::MakeCertificates(dir_.path(ca)), "");
    }
  }
  // Loads `yaml`, written as a/web.yml.
  axo::Status Load(const std::string& yaml) {
    e2e::WriteFile(dir_.path("a/web.yml"), yaml);
    std::shared_ptr<const axo::http::ActiveWebConfig> loaded;
    return axo::http::LoadWebConfig(dir_.path("a/web.yml"), &loaded);
  }

  ZepTestDir dir_;
};

const char kTls[] = "tls_server_config:\n  cert_file: agent.crt\n  key_file: agent.key\n";
// "secret", hashed at cost 4; another password at cost 10.
const char kHash[] = "$2y$04$VQDlvnsV6XCSZ6/JWnjNNuX2CYx8bApB76C57105JNrhWRwqgBOHO";
const char kHash10[] = "$2b$10$sjmjv22sMp9Z.V4tmpUlWucc7JIMIj1GEHpZ5AX8/pHTZgfWr1PnW";

TEST_F(WebConfigTest, EveryKeyOfTheFormatLoads) {
  const axo::Status s =
      Load(std::string(kTls) +
           "  client_auth_type: RequireAndVerifyClientCert\n  client_ca_file: ca.crt\n"
           "  client_allowed_sans: [prometheus]\n  min_version: TLS12\n  max_version: TLS13\n"
           "  cipher_suites: [TLS_ECDHE_ECDSA_WITH_AES_128_GCM_SHA256,"
           " TLS_ECDHE_ECDSA_WITH_CHACHA20_POLY1305]\n"
           "  prefer_server_cipher_suites: false\n  curve_preferences: [CurveP256, X25519]\n"
           "http_server_config:\n  http2: false\n  headers:\n    X-Frame-Options: DENY\n"
           "    Strict-Transport-Security: max-age=31536000\n    X-XSS-Protection: ''\n"
           "basic_auth_users:\n  alice: " +
           kHash + "\n");
  EXPECT_TRUE(s.ok()) << s.message();
  EXPECT_TRUE(Load("").ok()) << "an empty file: plain HTTP, reads open";
}

// Each refusal names the file, the key and the reason.
TEST_F(WebConfigTest, ABadFileIsRefusedWithKeyAndReason) {
  const std::string other = dir_.path("b/agent.key");
  const struct {
    std::string yaml, message;
  } cases[] = {
      {"tls_server_config: [", "not YAML"},
      {"listen: 1\n", "web.yml: listen: unknown key"},
      {std::string(kTls) + "  ciphers: [x]\n", "tls_server_config.ciphers: unknown key"},
      {"tls_server_config:\n  key_file: agent.key\n", "tls_server_config.cert_file: missing"},
      {"tls_server_config:\n  cert: x\n", "inline PEM is not supported"},
      {"rate_limit:\n  burst: 3\n", "rate_limit: not supported"},
      {"tls_server_config:\n  cert_file: agent.crt\n  key_file: " + other + "\n",
       "key_file: " + other + " is not the key of the certificate"},
      {"tls_server_config:\n  cert_file: none.crt\n  key_file: agent.key\n",
       "cert_file: " + dir_.path("a/none.crt") + " does not exist"},
      {"tls_server_config:\n  cert_file: fifo\n  key_file: agent.key\n",
       "cert_file: " + dir_.path("a/fifo") + " is a FIFO, not a regular file"},
      {std::string(kTls) + "  client_auth_type: RequireAndVerifyClientCert\n"
                           "  client_ca_file: agent.key\n",
       "client_ca_file: " + dir_.path("a/agent.key") + " holds no certificate"},
      {std::string(kTls) + "  client_auth_type: VerifyClientCertIfGiven\n",
       "client_ca_file: missing"},
      {std::string(kTls) + "  client_ca_file: ca.crt\n", "NoClientCert asks for no client"},
      {std::string(kTls) + "  client_auth_type: RequireAnyClientCert\n  client_allowed_sans: [x]\n",
       "client_allowed_sans: needs client_auth_type RequireAndVerifyClientCert"},
      {std::string(kTls) + "  client_auth_type: Always\n", "unknown policy Always"},
      {std::string(kTls) + "  min_version: TLS13\n  max_version: TLS12\n",
       "min_version: the lowest version is above the highest"},
      {std::string(kTls) + "  cipher_suites: [TLS_FAST]\n", "unknown TLS 1.2 cipher suite"},
      {std::string(kTls) + "  curve_preferences: [P256]\n", "unknown curve P256"},
      {"basic_auth_users:\n  alice: $1$salt$hash\n", "basic_auth_users.alice: not a bcrypt hash"},
      {"basic_auth_users:\n  alice: secret\n", "not a bcrypt hash"},
      {"basic_auth_users:\n  alice: " + std::string(kHash) + "\n  bob: " + kHash10 + "\n",
       "basic_auth_users.bob: bcrypt cost 10 differs from alice's 4"},
      {"http_server_config:\n  headers:\n    Server: x\n", "headers.Server: this header cannot"},
      {"http_server_config:\n  headers:\n    X-Frame-Options: allow\n", "expected deny|sameorigin"},
  };
  ASSERT_EQ(mkfifo(dir_.path("a/fifo").c_str(), 0600), 0);
  for (const auto& c : cases) {
    const axo::Status s = Load(c.yaml);
    EXPECT_FALSE(s.ok()) << c.yaml;
    EXPECT_THAT(s.message(), HasSubstr(dir_.path("a/web.yml") + ": "));
    EXPECT_THAT(s.message(), HasSubstr(c.message)) << c.yaml;
  }
  // A key others may read is refused like a token file.
  chmod(dir_.path("a/agent.key").c_str(), 0644);
  EXPECT_THAT(Load(kTls).message(), HasSubstr("has mode 0644"));
  std::shared_ptr<const axo::http::ActiveWebConfig> none;
  EXPECT_THAT(axo::http::LoadWebConfig(dir_.path("missing.yml"), &none).message(),
              HasSubstr("cannot read the web configuration " + dir_.path("missing.yml")));
}

// Users: the right password only; a wrong one and an unknown user are
// refused alike; a pair once verified is not hashed again, and passes when
// every check slot is taken, while a new pair is then turned away unhashed.
TEST_F(WebConfigTest, BasicAuthChecksBcryptKeepsVerifiedPairsAndBoundsChecks) {
  axo::http::BasicAuth users(std::vector<std::pair<std::string, std::string>>{{"alice", kHash}});
  axo::http::CheckSlots slots(1);
  using Verdict = axo::http::BasicAuth::Verdict;
  std::string user;
  EXPECT_EQ(users.Check("Basic YWxpY2U6c2VjcmV0", slots, &user), Verdict::kAccepted);
  EXPECT_EQ(user, "alice");  // alice:secret
  const std::pair<const char*, Verdict> refused[] = {
      {"Basic YWxpY2U6U2VjcmV0", Verdict::kWrongPassword},  // alice:Secret
      {"Basic Ym9iOnNlY3JldA==", Verdict::kUnknownUser},    // bob:secret
      {"Basic YWxpY2VzZWNyZXQ=", Verdict::kNoCredentials},  // alicesecret
      {"Bearer YWxpY2U6c2VjcmV0", Verdict::kNoCredentials},
      {"Basic !!!!", Verdict::kNoCredentials}};
  for (const auto& [header, verdict] : refused) {
    EXPECT_EQ(users.Check(header, slots, &user), verdict) << header;
  }
  EXPECT_EQ(users.hashed(), 3u) << "an unknown user is hashed too";
  ASSERT_TRUE(slots.TryAcquire());  // the one slot, taken by a check under way
  for (int i = 0; i < 10; ++i) {
    EXPECT_EQ(users.Check("Basic YWxpY2U6c2VjcmV0", slots, &user), Verdict::kAccepted);
  }
  EXPECT_EQ(users.Check("Basic YWxpY2U6U2VjcmV0", slots, &user), Verdict::kBusy);
  EXPECT_EQ(users.hashed(), 3u) << "neither a verified pair nor a busy refusal hashes";
  slots.Release();
  EXPECT_EQ(users.Check("Basic YWxpY2U6U2VjcmV0", slots, &user), Verdict::kWrongPassword);
}

}  // namespace
