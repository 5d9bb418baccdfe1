// zepbench tls [SCRAPES]: GET /metrics of an operator API in this process,
// with the service families at fleet size, over one kept-alive connection in plain HTTP and in TLS
// (the web configuration of the README's example, a P-256 certificate), and over a new TLS
// connection per scrape, its handshake included. Prints the median time of each, in milliseconds,
// and the page's size.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "axo/api/http_api.h"
#include "axo/process/axo.h"
#include "support/e2e_support.h"
#include "zepbench.h"

namespace zepbench {

namespace {

// The median wall time of `scrapes` calls of `scrape`, in ms; -1 when one failed.
double MedianMs(int scrapes, const std::function<int()>& scrape) {
  std::vector<double> ms;
  for (int i = 0; i < scrapes; ++i) {
    const double t0 = monotonicSeconds();
    if (scrape() != 200) return -1;
    ms.push_back((monotonicSeconds() - t0) * 1e3);
  }
  std::nth_element(ms.begin(), ms.begin() + ms.size() / 2, ms.end());
  return ms[ms.size() / 2];
}

}  // namespace

int runTls(int argc, char** argv) {
  const int scrapes = argc >= 1 ? std::max(1, std::atoi(argv[0])) : 50;
  InstallDir dir;  // a fresh temporary directory, removed at the end
  const auto path = [&](const char* name) { return dir.root() + "/" + name; };
  if (const std::string why = e2e::MakeCertificates(dir.root()); !why.empty()) {
    std::fprintf(stderr, "zepbench tls: %s\n", why.c_str());
    return 1;
  }
  std::filesystem::copy_file(
      std::string(ZEP_SOURCE_DIR) + "/deploy/examples/network/web-config-client-cert.yml",
      path("web.yml"));
  AXO_ResetForTesting();
  defineServiceFamilies();
  axo::api::OperatorApiOptions options;
  options.port = 0;
  axo::api::OperatorApi plain, tls;
  options.webConfig = "";
  axo::Status started = plain.Start(options);
  options.webConfig = path("web.yml");
  if (started.ok()) started = tls.Start(options);
  if (!started.ok()) {
    std::fprintf(stderr, "zepbench tls: the API did not start: %s\n", started.message().c_str());
    return 1;
  }
  const std::string ca = path("ca.crt"), cert = path("prometheus.crt"),
                    key = path("prometheus.key");
  httplib::Client plain_client("127.0.0.1", plain.port());
  httplib::SSLClient tls_client("127.0.0.1", tls.port(), cert, key);
  size_t bytes = 0;
  auto kept = [&](auto& client) {
    client.set_keep_alive(true);
    return [&client, &bytes] {
      httplib::Result r = client.Get("/metrics");
      bytes = r ? r->body.size() : 0;
      return r ? r->status : 0;
    };
  };
  tls_client.set_ca_cert_path(ca.c_str());
  tls_client.enable_server_certificate_verification(true);
  const double plain_ms = MedianMs(scrapes, kept(plain_client));
  const double tls_ms = MedianMs(scrapes, kept(tls_client));
  const double first_ms = MedianMs(scrapes / 4 + 1, [&] {
    e2e::TlsClient t;
    t.caFile = ca;
    t.certFile = cert;
    t.keyFile = key;
    return e2e::Https(tls.port(), t, "GET", "/metrics").status;
  });
  plain.Stop();
  tls.Stop();
  if (plain_ms < 0 || tls_ms < 0 || first_ms < 0) {
    std::fprintf(stderr, "zepbench tls: a scrape failed\n");
    return 1;
  }
  std::printf("scrapes=%d page_bytes=%zu plain_ms=%.3f tls_ms=%.3f tls_first_ms=%.3f\n", scrapes,
              bytes, plain_ms, tls_ms, first_ms);
  return 0;
}

}  // namespace zepbench
