// The operator API over TLS in process: the handshake on the reception
// thread within the request deadline, certificates replaced while it runs,
// and the TLS 1.2 suites offered by default.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "axo/api/http_api.h"
#include "axo/process/axo.h"
#include "support/e2e_support.h"

namespace {

namespace fs = std::filesystem;

// An API on a free port under a web configuration with TLS, whose files
// are those of authority "a"; authority "b" has a set of its own.
class TlsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    AXO_ResetForTesting();
    for (const char* ca : {"a", "b"}) {
      fs::create_directory(dir_.path(ca));
      ASSERT_EQ(e2e::MakeCertificates(dir_.path(ca)), "");
    }
    options_.port = 0;
    options_.webConfig = dir_.path("a/web.yml");
  }
  void TearDown() override { api_.Stop(); }

  void Start(const std::string& yaml) {
    e2e::WriteFile(options_.webConfig, yaml);
    ASSERT_TRUE(api_.Start(options_).ok());
  }
  // GET /healthz over TLS, trusting authority `ca`; 0 when no answer came.
  int Health(const std::string& ca, const std::string& client_ca = "") {
    e2e::TlsClient tls;
    tls.caFile = dir_.path(ca + "/ca.crt");
    if (!client_ca.empty()) {
      tls.certFile = dir_.path(client_ca + "/prometheus.crt");
      tls.keyFile = dir_.path(client_ca + "/prometheus.key");
    }
    return e2e::Https(api_.port(), tls, "GET", "/healthz").status;
  }
  // Puts `ca`'s agent key and certificate in a's place.
  void Replace(const std::string& ca) {
    for (const char* f : {"agent.key", "agent.crt"}) {
      fs::copy_file(dir_.path(ca + "/" + f), dir_.path(std::string("a/") + f),
                    fs::copy_options::overwrite_existing);
    }
  }

  ZepTestDir dir_;
  axo::api::OperatorApiOptions options_;
  axo::api::OperatorApi api_;
};

const char kTls[] = "tls_server_config:\n  cert_file: agent.crt\n  key_file: agent.key\n";

// A new certificate is served once the watch has read it (driven here as
// a reload does), without a restart; a broken one keeps the last good one.
TEST_F(TlsTest, ANewCertificateIsServedAfterItsReloadAndABadOneIsNot) {
  Start(kTls);
  EXPECT_EQ(Health("a"), 200);
  EXPECT_EQ(e2e::Http(api_.port(), "GET", "/healthz").status, 0) << "no plain HTTP on a TLS port";
  Replace("b");
  api_.RefreshWebConfig();
  EXPECT_EQ(Health("b"), 200);
  EXPECT_EQ(Health("a"), 0) << "a's certificate is no longer served";
  e2e::WriteFile(dir_.path("a/agent.crt"), "-----BEGIN CERTIFICATE-----\nbroken\n");
  api_.RefreshWebConfig();
  EXPECT_EQ(Health("b"), 200) << "the broken certificate is refused; b's stays";
}

// Without cipher_suites, TLS 1.2 offers forward-secret AEAD suites only: a
// client that offers only RSA key exchange, or CBC with SHA-1, gets no
// handshake. (An RSA certificate: with it both would otherwise be chosen.)
TEST_F(TlsTest, Tls12WithoutCipherSuitesOffersOnlyForwardSecretAeadSuites) {
  std::string out;
  ASSERT_EQ(
      e2e::RunCommand("cd '" + dir_.path("a") +
                          "' && openssl req -x509 -newkey rsa:2048 -nodes -days 2"
                          " -subj /CN=localhost -keyout rsa.key -out rsa.crt && chmod 600 rsa.key",
                      &out),
      0)
      << out;
  Start("tls_server_config:\n  cert_file: rsa.crt\n  key_file: rsa.key\n");
  const std::pair<const char*, int> suites[] = {
      {"AES128-GCM-SHA256", 1}, {"ECDHE-RSA-AES128-SHA", 1}, {"ECDHE-RSA-AES128-GCM-SHA256", 0}};
  for (const auto& [suite, status] : suites) {
    out.clear();
    EXPECT_EQ(e2e::RunCommand("openssl s_client -connect 127.0.0.1:" + std::to_string(api_.port()) +
                                  " -tls1_2 -cipher " + suite + " < /dev/null",
                              &out),
              status)
        << suite << "\n"
        << out;
  }
}

// A client that opens a connection and never finishes its handshake holds
// none of the workers (here: one), and is closed at the request deadline.
TEST_F(TlsTest, AStalledHandshakeHoldsNoWorkerAndEndsAtTheDeadline) {
  options_.threads = 1;
  options_.requestTimeout = std::chrono::milliseconds(500);
  Start(kTls);
  e2e::RawClient stalled(api_.port());
  ASSERT_TRUE(stalled.Send(std::string("\x16\x03\x01\x02\x00\x01", 6)));  // a ClientHello begun
  EXPECT_EQ(Health("a"), 200);
  stalled.Receive(5000);
  EXPECT_TRUE(stalled.closed());
}

// A client certificate of the right authority and name opens; one without
// an allowed name does not. (Another authority's or none: the network
// example end to end, tests/e2e/network_e2e_test.cc.)
TEST_F(TlsTest, ClientCertificatesAreVerifiedAndTheirNamesChecked) {
  Start(std::string(kTls) +
        "  client_auth_type: RequireAndVerifyClientCert\n  client_ca_file: ca.crt\n"
        "  client_allowed_sans: [prometheus]\n");
  EXPECT_EQ(Health("a", "a"), 200);
  e2e::WriteFile(options_.webConfig,
                 std::string(kTls) +
                     "  client_auth_type: RequireAndVerifyClientCert\n  client_ca_file: ca.crt\n"
                     "  client_allowed_sans: [scraper.example]\n");
  api_.RefreshWebConfig();
  EXPECT_EQ(Health("a", "a"), 0);
}

}  // namespace
