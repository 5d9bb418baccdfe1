// TLS for the operator API through OpenSSL: a server context built from a
// web configuration's tls_server_config, and the transport of one
// connection over it, whose handshake runs without blocking on the front
// end's reception thread. Framework-internal.
#ifndef AXO_API_TLS_H_
#define AXO_API_TLS_H_

#include <memory>
#include <string>
#include <vector>

#include "axo/api/http_server.h"
#include "axo/api/web_config.h"
#include "axo/base/status.h"

namespace axo::api {

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
  static std::unique_ptr<http::Transport> Wrap(std::shared_ptr<const TlsContext> self, int fd);

  // True when no connection opens without a client certificate.
  bool requiresClientCertificate() const { return requiresClient_; }

 private:
  TlsContext() = default;

  SSL_CTX* ctx_ = nullptr;
  std::vector<std::string> allowedSans_;
  bool requiresClient_ = false;
};

}  // namespace axo::api

#endif  // AXO_API_TLS_H_
