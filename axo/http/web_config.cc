// The web configuration file: parsed with yaml-cpp, checked key by key,
// loaded into what it puts in force, and watched for changes.
#include "axo/http/web_config.h"

#include <strings.h>
#include <sys/stat.h>
#include <yaml-cpp/yaml.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sstream>

#include "axo/base/files.h"
#include "axo/base/trk1.h"
#include "axo/http/basic_auth.h"

TRK1_UNIT(axowebcfg_unit, "AXOHTTP");

namespace axo::http {
namespace {

// A refusal of one key, named by its path in the file.
struct Refusal {
  std::string key, reason;
};

bool Same(const std::string& a, const char* b) { return strcasecmp(a.c_str(), b) == 0; }

// The scalar at `node`; throws a Refusal when it is anything else.
std::string Text(const YAML::Node& node, const std::string& key) {
  if (!node.IsScalar()) throw Refusal{key, "expected a single value"};
  return node.Scalar();
}

bool Flag(const YAML::Node& node, const std::string& key) {
  bool value = false;
  if (!node.IsScalar() || !YAML::convert<bool>::decode(node, value)) {
    throw Refusal{key, "expected true or false"};
  }
  return value;
}

// A list of scalars (null: none).
std::vector<std::string> List(const YAML::Node& node, const std::string& key) {
  std::vector<std::string> out;
  if (node.IsNull()) return out;
  if (!node.IsSequence()) throw Refusal{key, "expected a list"};
  for (size_t i = 0; i < node.size(); ++i) {
    out.push_back(Text(node[i], key + "[" + std::to_string(i) + "]"));
  }
  return out;
}

// Calls `each(key, value)` for every entry of the mapping `node` (null:
// none), with the key's path under `parent`.
template <typename F>
void Entries(const YAML::Node& node, const std::string& parent, F each) {
  if (node.IsNull()) return;
  if (!node.IsMap()) throw Refusal{parent.empty() ? "(top)" : parent, "expected a mapping"};
  for (const auto& entry : node) {
    const std::string name = Text(entry.first, parent.empty() ? "(key)" : parent);
    each(name, (parent.empty() ? "" : parent + ".") + name, entry.second);
  }
}

// A file the configuration names: relative to the configuration's folder.
std::string Resolve(const std::string& config, const std::string& file) {
  if (file.empty() || file[0] == '/') return file;
  const size_t slash = config.rfind('/');
  return slash == std::string::npos ? file : config.substr(0, slash + 1) + file;
}

int Version(const std::string& text, const std::string& key) {
  static const std::pair<const char*, int> kVersions[] = {
      {"TLS10", 0x0301}, {"TLS11", 0x0302}, {"TLS12", 0x0303}, {"TLS13", 0x0304}};
  for (const auto& [name, number] : kVersions) {
    if (text == name) return number;
  }
  throw Refusal{key, "unknown TLS version " + text + " (TLS10, TLS11, TLS12 or TLS13)"};
}

void ParseTls(const YAML::Node& node, const std::string& config, TlsSettings* t) {
  static const std::pair<const char*, ClientAuth> kPolicies[] = {
      {"NoClientCert", ClientAuth::kNone},
      {"RequestClientCert", ClientAuth::kRequest},
      {"RequireAnyClientCert", ClientAuth::kRequireAny},
      {"VerifyClientCertIfGiven", ClientAuth::kVerifyIfGiven},
      {"RequireAndVerifyClientCert", ClientAuth::kRequireAndVerify}};
  static const std::pair<const char*, const char*> kCurves[] = {
      {"CurveP256", "P-256"}, {"CurveP384", "P-384"}, {"CurveP521", "P-521"}, {"X25519", "X25519"}};
  bool min_given = false;
  Entries(node, "tls_server_config",
          [&](const std::string& name, const std::string& key, const YAML::Node& value) {
            if (name == "cert_file") {
              t->certFile = Resolve(config, Text(value, key));
            } else if (name == "key_file") {
              t->keyFile = Resolve(config, Text(value, key));
            } else if (name == "client_ca_file") {
              t->clientCaFile = Resolve(config, Text(value, key));
            } else if (name == "client_auth_type") {
              const std::string policy = Text(value, key);
              auto it = std::find_if(std::begin(kPolicies), std::end(kPolicies),
                                     [&](const auto& p) { return policy == p.first; });
              if (it == std::end(kPolicies)) {
                throw Refusal{key, "unknown policy " + policy +
                                       " (NoClientCert, RequestClientCert, RequireAnyClientCert, "
                                       "VerifyClientCertIfGiven or RequireAndVerifyClientCert)"};
              }
              t->clientAuth = it->second;
            } else if (name == "min_version") {
              t->minVersion = Version(Text(value, key), key);
              min_given = true;
            } else if (name == "max_version") {
              t->maxVersion = Version(Text(value, key), key);
            } else if (name == "cipher_suites") {
              t->cipherSuites = List(value, key);
            } else if (name == "prefer_server_cipher_suites") {
              t->preferServerCipherSuites = Flag(value, key);
            } else if (name == "curve_preferences") {
              for (const std::string& curve : List(value, key)) {
                auto it = std::find_if(std::begin(kCurves), std::end(kCurves),
                                       [&](const auto& c) { return curve == c.first; });
                if (it == std::end(kCurves)) {
                  throw Refusal{key, "unknown curve " + curve +
                                         " (CurveP256, CurveP384, CurveP521 or "
                                         "X25519)"};
                }
                t->curves.push_back(it->second);
              }
            } else if (name == "client_allowed_sans") {
              t->allowedSans = List(value, key);
            } else if (name == "cert" || name == "key" || name == "client_ca") {
              throw Refusal{key, "inline PEM is not supported: name a file with " + name + "_file"};
            } else {
              throw Refusal{key, "unknown key"};
            }
          });
  if (t->certFile.empty()) throw Refusal{"tls_server_config.cert_file", "missing"};
  if (t->keyFile.empty()) throw Refusal{"tls_server_config.key_file", "missing"};
  if (t->minVersion > t->maxVersion) {
    throw Refusal{min_given ? "tls_server_config.min_version" : "tls_server_config.max_version",
                  "the lowest version is above the highest"};
  }
  const bool verifies =
      t->clientAuth == ClientAuth::kVerifyIfGiven || t->clientAuth == ClientAuth::kRequireAndVerify;
  if (verifies && t->clientCaFile.empty()) {
    throw Refusal{"tls_server_config.client_ca_file",
                  "missing: client certificates cannot be verified without it"};
  }
  if (!t->clientCaFile.empty() && t->clientAuth == ClientAuth::kNone) {
    throw Refusal{"tls_server_config.client_ca_file",
                  "given, but client_auth_type NoClientCert asks for no client certificate"};
  }
  if (!t->allowedSans.empty() && t->clientAuth != ClientAuth::kRequireAndVerify) {
    throw Refusal{"tls_server_config.client_allowed_sans",
                  "needs client_auth_type RequireAndVerifyClientCert: a name in a certificate "
                  "nobody verified proves nothing"};
  }
}

// The headers the toolkit lets a configuration set, and the values it
// accepts for them (null: any).
void ParseHeaders(const YAML::Node& node, WebConfig* c) {
  static const std::pair<const char*, const char*> kHeaders[] = {
      {"Content-Security-Policy", nullptr},
      {"X-Frame-Options", "deny|sameorigin"},
      {"X-Content-Type-Options", "nosniff"},
      {"X-XSS-Protection", nullptr},
      {"Strict-Transport-Security", nullptr}};
  Entries(node, "http_server_config.headers",
          [&](const std::string& name, const std::string& key, const YAML::Node& v) {
            auto it = std::find_if(std::begin(kHeaders), std::end(kHeaders),
                                   [&](const auto& h) { return Same(name, h.first); });
            if (it == std::end(kHeaders)) {
              throw Refusal{
                  key,
                  "this header cannot be set (Content-Security-Policy, X-Frame-Options, "
                  "X-Content-Type-Options, X-XSS-Protection or Strict-Transport-Security)"};
            }
            const std::string value = v.IsNull() ? "" : Text(v, key);
            if (value.find_first_of("\r\n") != std::string::npos ||
                value.find('\0') != std::string::npos) {
              throw Refusal{key, "a header value is one line"};
            }
            if (value.empty()) return;  // blank: not set
            if (it->second != nullptr) {
              std::istringstream allowed(it->second);
              std::string one;
              bool ok = false;
              while (std::getline(allowed, one, '|')) ok |= Same(value, one.c_str());
              if (!ok) throw Refusal{key, "expected " + std::string(it->second)};
            }
            c->headers.emplace_back(it->first, value);
          });
}

void ParseRoot(const YAML::Node& root, const std::string& path, WebConfig* c) {
  Entries(root, "", [&](const std::string& name, const std::string& key, const YAML::Node& v) {
    if (name == "tls_server_config") {
      c->tls = !v.IsNull() && !(v.IsMap() && v.size() == 0);
      if (c->tls) ParseTls(v, path, &c->tlsSettings);
    } else if (name == "basic_auth_users") {
      Entries(v, key, [&](const std::string& user, const std::string& ukey, const YAML::Node& h) {
        const std::string hash = Text(h, ukey);
        if (user.empty() || user.find(':') != std::string::npos) {
          throw Refusal{ukey, "a user name is not empty and holds no ':'"};
        }
        if (!IsBcryptHash(hash)) {
          throw Refusal{ukey, "not a bcrypt hash ($2y$, $2b$ or $2a$, as htpasswd -B makes)"};
        }
        // One cost for all: an unknown user is checked at the highest, so
        // a cheaper user would be told apart from an unknown one by time.
        if (!c->users.empty() && BcryptCost(hash) != BcryptCost(c->users.front().second)) {
          throw Refusal{ukey,
                        "bcrypt cost " + std::to_string(BcryptCost(hash)) + " differs from " +
                            c->users.front().first + "'s " +
                            std::to_string(BcryptCost(c->users.front().second)) +
                            ": hash every user at one cost, or their timing tells them apart"};
        }
        c->users.emplace_back(user, hash);
      });
    } else if (name == "http_server_config") {
      Entries(v, key, [&](const std::string& sub, const std::string& skey, const YAML::Node& sv) {
        if (sub == "headers") {
          ParseHeaders(sv, c);
        } else if (sub == "http2") {
          Flag(sv, skey);  // either way: the API speaks HTTP/1.1 only
        } else {
          throw Refusal{skey, "unknown key"};
        }
      });
    } else if (name == "rate_limit") {
      throw Refusal{key, "not supported by this agent"};
    } else {
      throw Refusal{key, "unknown key"};
    }
  });
}

// A stamp of `files`: changes when one is replaced, written or removed.
std::string StampOf(const std::vector<std::string>& files) {
  std::string stamp;
  for (const std::string& f : files) {
    struct stat st;
    if (stat(f.c_str(), &st) != 0) {
      stamp += "-;";
      continue;
    }
    stamp += std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino) + ":" +
             std::to_string(st.st_size) + ":" + std::to_string(st.st_mtim.tv_sec) + "." +
             std::to_string(st.st_mtim.tv_nsec) + ":" + std::to_string(st.st_ctim.tv_sec) + "." +
             std::to_string(st.st_ctim.tv_nsec) + ";";
  }
  return stamp;
}

}  // namespace

Status ParseWebConfig(const std::string& path, WebConfig* out) {
  std::string text;
  if (Status s = axo_internal::ReadRegularFile(path, kMaxWebConfigFileBytes, &text); !s.ok()) {
    return Status::BadRequest("cannot read the web configuration " + path + ": " + s.message());
  }
  WebConfig c;
  try {
    ParseRoot(YAML::Load(text), path, &c);
  } catch (const Refusal& r) {
    return Status::BadRequest(path + ": " + r.key + ": " + r.reason);
  } catch (const YAML::Exception& e) {
    return Status::BadRequest(path + ": line " + std::to_string(e.mark.line + 1) +
                              ": not YAML: " + e.msg);
  }
  *out = std::move(c);
  return Status::OK();
}

Status LoadWebConfig(const std::string& path, std::shared_ptr<const ActiveWebConfig>* out,
                     std::vector<std::string>* files) {
  if (files != nullptr) *files = {path};
  WebConfig c;
  if (Status s = ParseWebConfig(path, &c); !s.ok()) return s;
  auto active = std::make_shared<ActiveWebConfig>();
  active->path = path;
  if (c.tls) {
    const TlsSettings& t = c.tlsSettings;
    if (files != nullptr) {
      for (const std::string* f : {&t.certFile, &t.keyFile, &t.clientCaFile}) {
        if (!f->empty()) files->push_back(*f);
      }
    }
    if (Status s = TlsContext::Make(t, &active->tls); !s.ok()) {
      return Status::BadRequest(path + ": " + s.message());
    }
  }
  active->users = std::make_shared<BasicAuth>(std::move(c.users));
  active->headers = std::move(c.headers);
  *out = std::move(active);
  return Status::OK();
}

WebConfigWatch::~WebConfigWatch() { Stop(); }

Status WebConfigWatch::Start(const std::string& path) {
  std::lock_guard<std::mutex> reloading(reloadMu_);
  std::shared_ptr<const ActiveWebConfig> loaded;
  std::vector<std::string> files;
  if (path.empty()) {
    auto none = std::make_shared<ActiveWebConfig>();
    none->users = std::make_shared<BasicAuth>(std::vector<std::pair<std::string, std::string>>{});
    loaded = std::move(none);
  } else if (Status s = LoadWebConfig(path, &loaded, &files); !s.ok()) {
    return s;
  }
  path_ = path;
  files_ = std::move(files);
  stamp_ = StampOf(files_);
  {
    std::lock_guard<std::mutex> guard(mu_);
    current_ = std::move(loaded);
  }
  return path.empty() ? Status::OK()
                      : watch_.Start([this] { Refresh(); }, "web configuration watch");
}

void WebConfigWatch::Stop() { watch_.Stop(); }

void WebConfigWatch::Refresh() {
  // Readers take mu_ only, and never wait for a load.
  std::lock_guard<std::mutex> reloading(reloadMu_);
  if (path_.empty()) return;
  const std::string stamp = StampOf(files_);
  if (stamp == stamp_) return;
  std::shared_ptr<const ActiveWebConfig> loaded;
  const std::vector<std::string> before = files_;
  const Status s = LoadWebConfig(path_, &loaded, &files_);  // watched from now on
  // The stamp taken before the load, so that a change made during it is
  // seen next time (when the same files are watched).
  stamp_ = files_ == before ? stamp : StampOf(files_);
  if (!s.ok()) {
    TRK1_Printf(&axowebcfg_unit, __LINE__,
                "AXO0113E Web configuration not reloaded, the one in force stays: %s",
                s.message().c_str());
    return;
  }
  const bool tls = loaded->tls != nullptr;
  {
    std::lock_guard<std::mutex> guard(mu_);
    current_ = std::move(loaded);
  }
  TRK1_Printf(&axowebcfg_unit, __LINE__, "AXO0114I Web configuration %s reloaded (%s)",
              path_.c_str(), tls ? "TLS" : "no TLS");
}

std::shared_ptr<const ActiveWebConfig> WebConfigWatch::Current() const {
  std::lock_guard<std::mutex> guard(mu_);
  return current_;
}

}  // namespace axo::http
