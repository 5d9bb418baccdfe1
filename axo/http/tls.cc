// The operator API's TLS context and transport.
#include "axo/http/tls.h"

#include <arpa/inet.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include "axo/base/files.h"
#include "axo/process/axo.h"

namespace axo::http {
namespace {

// The reason of the oldest error on this thread's OpenSSL queue (emptied),
// or `otherwise` when there is none.
std::string SslReason(const char* otherwise) {
  const unsigned long code = ERR_get_error();
  ERR_clear_error();
  const char* reason = code == 0 ? nullptr : ERR_reason_error_string(code);
  return reason != nullptr ? reason : otherwise;
}

Status Refuse(const char* key, const std::string& reason) {
  return Status::BadRequest(std::string("tls_server_config.") + key + ": " + reason);
}

// The PEM text of the file `path`, named by tls_server_config.`key`, read
// as every file the web configuration names is (a regular file, never
// through a link or waiting on a FIFO), into a memory BIO the caller owns.
// The library is never handed the path: what was checked is what it reads.

Status ReadPem(const char* key, const std::string& path, BIO** out) {
  std::string text;
  Status read = std::string(key) == "key_file"
                    ? AXO_ReadSecretFile("TLS key file", path, kMaxWebConfigFileBytes, &text)
                    : axo_internal::ReadRegularFile(path, kMaxWebConfigFileBytes, &text);
  if (!read.ok()) return Refuse(key, read.message());
  *out = BIO_new(BIO_s_mem());
  if (*out == nullptr || BIO_write(*out, text.data(), static_cast<int>(text.size())) !=
                             static_cast<int>(text.size())) {
    return Refuse(key, "cannot hold " + path + ": " + SslReason("out of memory"));
  }
  return Status::OK();
}

// Frees a BIO on every path out.
struct BioOwner {
  BIO* bio = nullptr;
  ~BioOwner() { BIO_free(bio); }
};

// Loads the key, then the certificate chain (the first certificate the
// server's, the rest its chain) and checks that they belong together.
Status LoadKeyAndChain(SSL_CTX* ctx, const TlsSettings& s) {
  BioOwner keyPem, certPem;
  if (Status st = ReadPem("key_file", s.keyFile, &keyPem.bio); !st.ok()) return st;
  EVP_PKEY* key = PEM_read_bio_PrivateKey(keyPem.bio, nullptr, nullptr, nullptr);
  const bool keyUsed = key != nullptr && SSL_CTX_use_PrivateKey(ctx, key) == 1;
  EVP_PKEY_free(key);
  if (!keyUsed) return Refuse("key_file", s.keyFile + " holds no usable key: " + SslReason("?"));
  if (Status st = ReadPem("cert_file", s.certFile, &certPem.bio); !st.ok()) return st;
  X509* cert = PEM_read_bio_X509_AUX(certPem.bio, nullptr, nullptr, nullptr);
  const bool certUsed = cert != nullptr && SSL_CTX_use_certificate(ctx, cert) == 1;
  X509_free(cert);
  if (!certUsed) {
    return Refuse("cert_file", s.certFile + " holds no usable certificate: " + SslReason("?"));
  }
  while (X509* link = PEM_read_bio_X509(certPem.bio, nullptr, nullptr, nullptr)) {
    if (SSL_CTX_add0_chain_cert(ctx, link) != 1) {  // takes `link` when it succeeds
      X509_free(link);
      return Refuse("cert_file", s.certFile + ": its chain is refused: " + SslReason("?"));
    }
  }
  ERR_clear_error();  // the end of the PEM text
  if (SSL_CTX_check_private_key(ctx) != 1) {
    ERR_clear_error();
    return Refuse("key_file", s.keyFile + " is not the key of the certificate " + s.certFile);
  }
  return Status::OK();
}

// Trusts every certificate of the client CA file for client certificates,
// and names them to clients as acceptable issuers.
Status LoadClientCa(SSL_CTX* ctx, const std::string& path) {
  BioOwner pem;
  if (Status st = ReadPem("client_ca_file", path, &pem.bio); !st.ok()) return st;
  int loaded = 0;
  while (X509* ca = PEM_read_bio_X509(pem.bio, nullptr, nullptr, nullptr)) {
    const bool ok = X509_STORE_add_cert(SSL_CTX_get_cert_store(ctx), ca) == 1 &&
                    SSL_CTX_add_client_CA(ctx, ca) == 1;
    X509_free(ca);
    if (!ok) return Refuse("client_ca_file", path + ": refused: " + SslReason("?"));
    ++loaded;
  }
  ERR_clear_error();
  if (loaded == 0) return Refuse("client_ca_file", path + " holds no certificate");
  return Status::OK();
}

// Accepts whatever certificate a client offers (RequestClientCert,
// RequireAnyClientCert: asked for, never verified).
int AcceptAny(int, X509_STORE_CTX*) { return 1; }

// The OpenSSL names of the TLS 1.2 suites named by their IANA names in
// `names` (the names without "_SHA256" that ChaCha20 suites are also known
// by are accepted), joined for SSL_CTX_set_cipher_list.
Status CipherList(const std::vector<std::string>& names, std::string* out) {
  SSL_CTX* all = SSL_CTX_new(TLS_server_method());
  if (all == nullptr || SSL_CTX_set_cipher_list(all, "ALL:COMPLEMENTOFALL") != 1) {
    SSL_CTX_free(all);
    return Refuse("cipher_suites", "cannot list the cipher suites: " + SslReason("unknown"));
  }
  STACK_OF(SSL_CIPHER)* ciphers = SSL_CTX_get_ciphers(all);
  Status status;
  for (const std::string& name : names) {
    const char* found = nullptr;
    for (int i = 0; i < sk_SSL_CIPHER_num(ciphers) && found == nullptr; ++i) {
      const SSL_CIPHER* c = sk_SSL_CIPHER_value(ciphers, i);
      const std::string standard = SSL_CIPHER_standard_name(c);
      if (standard == name || standard == name + "_SHA256") found = SSL_CIPHER_get_name(c);
    }
    if (found == nullptr) {
      status = Refuse("cipher_suites", "unknown TLS 1.2 cipher suite " + name);
      break;
    }
    *out += (out->empty() ? "" : ":") + std::string(found);
  }
  SSL_CTX_free(all);
  return status;
}

// Every subject alternative name of `cert` as text: DNS names, e-mail
// addresses and URIs as written, IP addresses in their numeric form.
std::vector<std::string> SubjectAltNames(X509* cert) {
  std::vector<std::string> out;
  auto* names =
      static_cast<GENERAL_NAMES*>(X509_get_ext_d2i(cert, NID_subject_alt_name, nullptr, nullptr));
  for (int i = 0; names != nullptr && i < sk_GENERAL_NAME_num(names); ++i) {
    const GENERAL_NAME* n = sk_GENERAL_NAME_value(names, i);
    if (n->type == GEN_DNS || n->type == GEN_EMAIL || n->type == GEN_URI) {
      const ASN1_IA5STRING* text = n->d.ia5;
      out.emplace_back(reinterpret_cast<const char*>(ASN1_STRING_get0_data(text)),
                       static_cast<size_t>(ASN1_STRING_length(text)));
    } else if (n->type == GEN_IPADD) {
      const int len = ASN1_STRING_length(n->d.ip);
      char ip[INET6_ADDRSTRLEN] = "";  // bounded by inet_ntop
      if ((len == 4 || len == 16) && inet_ntop(len == 4 ? AF_INET : AF_INET6,
                                               ASN1_STRING_get0_data(n->d.ip), ip, sizeof(ip))) {
        out.emplace_back(ip);
      }
    }
  }
  GENERAL_NAMES_free(names);
  return out;
}

class TlsTransport final : public Transport {
 public:
  TlsTransport(std::shared_ptr<const TlsContext> context, const std::vector<std::string>& sans,
               SSL* ssl, int fd)
      : context_(std::move(context)), allowedSans_(sans), ssl_(ssl), fd_(fd) {}
  ~TlsTransport() override {
    SSL_free(ssl_);
    close(fd_);
  }
  TlsTransport(const TlsTransport&) = delete;
  TlsTransport& operator=(const TlsTransport&) = delete;

  ssize_t Open(std::string* why) override {
    if (ssl_ == nullptr) {
      *why = "cannot start a TLS session: " + SslReason("out of memory");
      return kFailed;
    }
    ERR_clear_error();
    const int r = SSL_accept(ssl_);
    if (r == 1) return AllowedClient(why) ? 0 : kFailed;
    const int e = SSL_get_error(ssl_, r);
    if (e == SSL_ERROR_WANT_READ) return kWantRead;
    if (e == SSL_ERROR_WANT_WRITE) return kWantWrite;
    const unsigned long code = ERR_peek_error();
    // A client that went away (a port probe, a connection check) is no news.
    if (e == SSL_ERROR_SYSCALL || e == SSL_ERROR_ZERO_RETURN || code == 0 ||
        ERR_GET_REASON(code) == SSL_R_UNEXPECTED_EOF_WHILE_READING) {
      ERR_clear_error();
      return kFailed;
    }
    *why = "TLS handshake failed: " + SslReason("unknown error");
    const long verify = SSL_get_verify_result(ssl_);
    if (verify != X509_V_OK)
      *why += std::string(" (") + X509_verify_cert_error_string(verify) + ")";
    return kFailed;
  }
  ssize_t Read(char* buf, size_t size) override {
    ERR_clear_error();
    const int n = SSL_read(ssl_, buf, static_cast<int>(std::min<size_t>(size, INT_MAX)));
    return n > 0 ? n : Result(n, 0);
  }
  ssize_t Write(const char* data, size_t size) override {
    ERR_clear_error();
    const int n = SSL_write(ssl_, data, static_cast<int>(std::min<size_t>(size, INT_MAX)));
    return n > 0 ? n : Result(n, kFailed);
  }
  bool Pending() const override { return SSL_pending(ssl_) > 0; }
  void ShutdownWrite() override {
    SSL_shutdown(ssl_);  // the close_notify alert, as far as it goes without waiting
    shutdown(fd_, SHUT_WR);
  }
  int fd() const override { return fd_; }
  SSL* ssl() const override { return ssl_; }

 private:
  // What a failed SSL_read or SSL_write means; `closed` at the end of the
  // peer's stream.
  ssize_t Result(int n, ssize_t closed) {
    switch (SSL_get_error(ssl_, n)) {
      case SSL_ERROR_WANT_READ:
        return kWantRead;
      case SSL_ERROR_WANT_WRITE:
        return kWantWrite;
      case SSL_ERROR_ZERO_RETURN:
        return closed;
      default:
        ERR_clear_error();
        return kFailed;
    }
  }

  // client_allowed_sans: the client's certificate names one of them.
  bool AllowedClient(std::string* why) {
    if (allowedSans_.empty()) return true;
    X509* cert = SSL_get1_peer_certificate(ssl_);
    std::vector<std::string> names;
    if (cert != nullptr) names = SubjectAltNames(cert);
    X509_free(cert);
    for (const std::string& n : names) {
      if (std::find(allowedSans_.begin(), allowedSans_.end(), n) != allowedSans_.end()) {
        return true;
      }
    }
    *why = "the client certificate names none of client_allowed_sans";
    return false;
  }

  std::shared_ptr<const TlsContext> context_;  // holds the SSL_CTX that ssl_ uses
  const std::vector<std::string>& allowedSans_;
  SSL* ssl_;
  const int fd_;
};

}  // namespace

Status TlsContext::Make(const TlsSettings& s, std::shared_ptr<const TlsContext>* out) {
  std::shared_ptr<TlsContext> made(new TlsContext);
  made->allowedSans_ = s.allowedSans;
  made->requiresClient_ =
      s.clientAuth == ClientAuth::kRequireAny || s.clientAuth == ClientAuth::kRequireAndVerify;
  ERR_clear_error();
  SSL_CTX* ctx = made->ctx_ = SSL_CTX_new(TLS_server_method());
  if (ctx == nullptr) return Refuse("cert_file", "cannot make a TLS context: " + SslReason("?"));
  if (Status st = LoadKeyAndChain(ctx, s); !st.ok()) return st;
  if (!s.clientCaFile.empty()) {
    if (Status st = LoadClientCa(ctx, s.clientCaFile); !st.ok()) return st;
  }
  int mode = SSL_VERIFY_NONE;
  SSL_verify_cb callback = nullptr;
  switch (s.clientAuth) {
    case ClientAuth::kNone:
      break;
    case ClientAuth::kRequest:
      mode = SSL_VERIFY_PEER;
      callback = AcceptAny;
      break;
    case ClientAuth::kRequireAny:
      mode = SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT;
      callback = AcceptAny;
      break;
    case ClientAuth::kVerifyIfGiven:
      mode = SSL_VERIFY_PEER;
      break;
    case ClientAuth::kRequireAndVerify:
      mode = SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT;
      break;
  }
  SSL_CTX_set_verify(ctx, mode, callback);
  // Sessions resumed under client verification need a context of their own.
  static const unsigned char kSessionContext[] = "zepagent";
  SSL_CTX_set_session_id_context(ctx, kSessionContext, sizeof(kSessionContext) - 1);
  if (SSL_CTX_set_min_proto_version(ctx, s.minVersion) != 1 ||
      SSL_CTX_set_max_proto_version(ctx, s.maxVersion) != 1) {
    return Refuse("min_version", "this TLS library refuses it: " + SslReason("?"));
  }
  // TLS 1.2 suites; without a list, only forward-secret key exchange
  // (ECDHE) with AEAD ciphers: no RSA key exchange, no CBC. (TLS 1.3's
  // suites are all such, and are left as the library has them.)
  std::string list = "ECDHE+AESGCM:ECDHE+CHACHA20:!aNULL:!PSK";
  if (!s.cipherSuites.empty()) {
    list.clear();
    if (Status st = CipherList(s.cipherSuites, &list); !st.ok()) return st;
  }
  if (SSL_CTX_set_cipher_list(ctx, list.c_str()) != 1) {
    return Refuse("cipher_suites", "refused by the TLS library: " + SslReason("?"));
  }
  if (!s.curves.empty()) {
    std::string list;
    for (const std::string& c : s.curves) list += (list.empty() ? "" : ":") + c;
    if (SSL_CTX_set1_groups_list(ctx, list.c_str()) != 1) {
      return Refuse("curve_preferences", "refused by the TLS library: " + SslReason("?"));
    }
  }
  SSL_CTX_set_options(ctx, SSL_OP_NO_RENEGOTIATION | SSL_OP_NO_COMPRESSION |
                               SSL_OP_IGNORE_UNEXPECTED_EOF |
                               (s.preferServerCipherSuites ? SSL_OP_CIPHER_SERVER_PREFERENCE : 0));
  // Writes go on where they stopped (the front end retries with the same
  // bytes, maybe from a moved buffer); idle connections give their buffers back.
  SSL_CTX_set_mode(ctx, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER |
                            SSL_MODE_RELEASE_BUFFERS);
  *out = std::move(made);
  return Status::OK();
}

TlsContext::~TlsContext() { SSL_CTX_free(ctx_); }

std::unique_ptr<Transport> TlsContext::Wrap(std::shared_ptr<const TlsContext> self, int fd) {
  SSL* ssl = SSL_new(self->ctx_);
  if (ssl != nullptr && SSL_set_fd(ssl, fd) != 1) {
    SSL_free(ssl);
    ssl = nullptr;
  }
  const std::vector<std::string>& sans = self->allowedSans_;
  return std::make_unique<TlsTransport>(std::move(self), sans, ssl, fd);
}

}  // namespace axo::http
