// The operator API's web configuration file (--web-config): the exporter
// toolkit's YAML format, so that one file serves every exporter on a host.
// Framework-internal.
//
//   tls_server_config:          # absent or empty: plain HTTP
//     cert_file, key_file       # PEM; paths relative to the file's folder
//     client_auth_type          # NoClientCert (default), RequestClientCert,
//                               # RequireAnyClientCert, VerifyClientCertIfGiven,
//                               # RequireAndVerifyClientCert
//     client_ca_file            # needed to verify client certificates
//     client_allowed_sans       # a verified client certificate must carry one
//                               # of these (RequireAndVerifyClientCert only)
//     min_version, max_version  # TLS10 .. TLS13 (default TLS12 .. TLS13)
//     cipher_suites             # TLS 1.2 suites by their IANA names (default:
//                               # ECDHE with AES-GCM or ChaCha20-Poly1305)
//     prefer_server_cipher_suites, curve_preferences (CurveP256, CurveP384,
//                               # CurveP521, X25519)
//   http_server_config:
//     headers                   # Content-Security-Policy, X-Frame-Options,
//                               # X-Content-Type-Options, X-XSS-Protection,
//                               # Strict-Transport-Security only
//     http2                     # accepted; the API speaks HTTP/1.1
//   basic_auth_users:           # user: bcrypt hash; reads need one of them
//
// Every key is checked: an unknown one, a missing or unreadable file, a key
// that does not match its certificate, a CA file without a certificate, a
// hash that is not bcrypt, users hashed at different bcrypt costs (an
// unknown user is checked at the highest: timing would tell a cheaper user
// apart), client_allowed_sans without RequireAndVerifyClientCert (a name in
// a certificate nobody verified proves nothing) is refused with the file,
// the key and the reason. The file and every file it names must be regular
// files (never a link, FIFO or device) of at most 1 MiB.
// Inline PEM (cert, key, client_ca) and rate_limit are refused as not
// supported rather than ignored.
#ifndef AXO_HTTP_WEB_CONFIG_H_
#define AXO_HTTP_WEB_CONFIG_H_

#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "axo/base/every_second.h"
#include "axo/base/status.h"
#include "axo/http/tls.h"

namespace axo::http {

class BasicAuth;

// The file's content, checked for form (not yet against the files it names).
struct WebConfig {
  bool tls = false;
  TlsSettings tlsSettings;
  std::vector<std::pair<std::string, std::string>> users;    // name, bcrypt hash
  std::vector<std::pair<std::string, std::string>> headers;  // name, value (not blank)
};

// Reads and checks the file `path`. Returns kBadRequest "PATH: KEY: reason"
// when it cannot be read, is not YAML, or a key or value is not accepted.
Status ParseWebConfig(const std::string& path, WebConfig* out);

// What a web configuration puts in force. Immutable; shared by the
// connections and requests that started under it.
struct ActiveWebConfig {
  std::string path;
  std::shared_ptr<const TlsContext> tls;  // null: plain HTTP
  std::shared_ptr<BasicAuth> users;       // never null; empty: reads are open
  std::vector<std::pair<std::string, std::string>> headers;
};

// Parses `path` and builds everything it names (TLS context, users), with
// every check a start makes. The key file must pass AXO_ReadSecretFile.
// `*files` (unless null) receives the file and the files it names, as far
// as it was read, whether it loads or not.
Status LoadWebConfig(const std::string& path, std::shared_ptr<const ActiveWebConfig>* out,
                     std::vector<std::string>* files = nullptr);

// The web configuration in force, re-read when it changes: by a thread of
// its own once a second, and on demand (a reload), never by a reader.
// Thread-safe.
class WebConfigWatch {
 public:
  WebConfigWatch() = default;
  ~WebConfigWatch();  // stops the watch
  WebConfigWatch(const WebConfigWatch&) = delete;
  WebConfigWatch& operator=(const WebConfigWatch&) = delete;

  // Loads `path` (empty: none, plain HTTP with open reads) and starts
  // watching it. Returns the reason when it does not load: nothing is in
  // force then.
  Status Start(const std::string& path);
  // Stops watching; the configuration in force stays.
  void Stop();
  // Loads the file again when it or a file it names changed since the last
  // load (a stat of each). A failure keeps the configuration in force and
  // is traced once, until the files change again (AXO0113E); a success is
  // traced (AXO0114I). Cheap when nothing changed; a load blocks no reader.
  void Refresh();
  // The configuration in force (never null after a successful Start).
  // Never waits for a load.
  std::shared_ptr<const ActiveWebConfig> Current() const;

 private:
  // Lock order: reloadMu_, then mu_.
  std::mutex reloadMu_;             // held by Start and Refresh: one load at a time
  std::string path_;                // guarded by reloadMu_
  std::vector<std::string> files_;  // of the last load, in force or refused; reloadMu_
  std::string stamp_;               // of files_ then: a change makes a reload; reloadMu_
  mutable std::mutex mu_;
  std::shared_ptr<const ActiveWebConfig> current_;  // guarded by mu_
  axo_internal::EverySecond watch_;
};

}  // namespace axo::http

#endif  // AXO_HTTP_WEB_CONFIG_H_
