// TLS for the operator API through OpenSSL: a server context built from a
// web configuration's tls_server_config, and the transport of one
// connection over it, whose handshake runs without blocking on the front
// end's reception thread. Framework-internal.
#ifndef AXO_HTTP_TLS_H_
#define AXO_HTTP_TLS_H_

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "axo/base/status.h"
#include "axo/http/http_server.h"

namespace axo::http {

// tls_server_config of a web configuration (axo/http/web_config.h).
enum class ClientAuth {
  kNone,              // NoClientCert
  kRequest,           // RequestClientCert: asked for, neither required nor verified
  kRequireAny,        // RequireAnyClientCert: required, not verified
  kVerifyIfGiven,     // VerifyClientCertIfGiven
  kRequireAndVerify,  // RequireAndVerifyClientCert
};

struct TlsSettings {
  std::string certFile, keyFile, clientCaFile;  // resolved against the file's folder
  ClientAuth clientAuth = ClientAuth::kNone;
  int minVersion = 0x0303;                // protocol numbers: TLS12
  int maxVersion = 0x0304;                // TLS13
  std::vector<std::string> cipherSuites;  // IANA names, as given
  bool preferServerCipherSuites = true;
  std::vector<std::string> curves;  // OpenSSL group names ("P-256", "X25519")
  std::vector<std::string> allowedSans;
};

// The web configuration (axo/http/web_config.h) and each file it names
// (certificates, keys, CA bundles) hold at most this many bytes.
constexpr size_t kMaxWebConfigFileBytes = 1 << 20;

// One server context. Immutable once made; a connection holds the context
// it started with, so a reload never pulls one from under it. Thread-safe.
class TlsContext {
 public:
  // Loads the certificate chain and its key (which must match it and pass
  // AXO_ReadSecretFile), the client CA file (at least one certificate),
  // and sets the versions, suites, curves and client certificate policy.
  // Returns kBadRequest "tls_server_config.KEY: reason".
  static Status Make(const TlsSettings& settings, std::shared_ptr<const TlsContext>* out);
  ~TlsContext();
  TlsContext(const TlsContext&) = delete;
  TlsContext& operator=(const TlsContext&) = delete;

  // The transport of the accepted non-blocking socket `fd`, which it owns
  // from then on, holding `self` alive. Its Open runs the handshake and
  // then checks client_allowed_sans.
  static std::unique_ptr<Transport> Wrap(std::shared_ptr<const TlsContext> self, int fd);

  // True when no connection opens without a client certificate.
  bool requiresClientCertificate() const { return requiresClient_; }

 private:
  TlsContext() = default;

  SSL_CTX* ctx_ = nullptr;
  std::vector<std::string> allowedSans_;
  bool requiresClient_ = false;
};

}  // namespace axo::http

#endif  // AXO_HTTP_TLS_H_
