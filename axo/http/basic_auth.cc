// Basic authentication: bcrypt through libcrypt's crypt_r, and the cache
// of verified pairs.
#include "axo/http/basic_auth.h"

#include <crypt.h>
#include <openssl/evp.h>

#include <cctype>
#include <memory>

#include "axo/http/constant_time.h"

namespace axo::http {
namespace {

// The decoded bytes of base64 `text`; false when it is not base64.
bool DecodeBase64(const std::string& text, std::string* out) {
  if (text.empty() || text.size() % 4 != 0) return false;
  std::string bytes(text.size() / 4 * 3, '\0');
  const int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(bytes.data()),
                                reinterpret_cast<const unsigned char*>(text.data()),
                                static_cast<int>(text.size()));
  if (n < 0) return false;
  // EVP_DecodeBlock counts the padding as zero bytes.
  const size_t padding = text.ends_with("==") ? 2 : text.ends_with("=") ? 1 : 0;
  bytes.resize(static_cast<size_t>(n) - padding);
  *out = std::move(bytes);
  return true;
}

// The key a verified pair is kept under: nobody reads a password from it.
std::string PairDigest(const std::string& user, const std::string& password) {
  const std::string pair = user + '\0' + password;
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  if (EVP_Digest(pair.data(), pair.size(), md, &len, EVP_sha256(), nullptr) != 1) return "";
  return std::string(reinterpret_cast<const char*>(md), len);
}

// Whether `password` hashes to `hash` (bcrypt's work, 2^cost rounds).
bool Matches(const std::string& password, const std::string& hash) {
  auto data = std::make_unique<crypt_data>();  // some 32 KiB: not on the stack
  const char* result = crypt_r(password.c_str(), hash.c_str(), data.get());
  return result != nullptr && ConstantTimeEquals(result, hash);
}

}  // namespace

int BcryptCost(const std::string& hash) { return (hash[4] - '0') * 10 + (hash[5] - '0'); }

bool CheckSlots::TryAcquire() {
  int busy = busy_.load(std::memory_order_relaxed);
  while (busy < limit_) {
    if (busy_.compare_exchange_weak(busy, busy + 1, std::memory_order_acquire)) return true;
  }
  return false;
}

bool IsBcryptHash(const std::string& hash) {
  static const std::string kAlphabet =
      "./ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  if (hash.size() != 60 || hash[0] != '$' || hash[1] != '2' ||
      (hash[2] != 'a' && hash[2] != 'b' && hash[2] != 'y') || hash[3] != '$' ||
      !isdigit(static_cast<unsigned char>(hash[4])) ||
      !isdigit(static_cast<unsigned char>(hash[5])) || hash[6] != '$') {
    return false;
  }
  const int cost = BcryptCost(hash);
  return cost >= 4 && cost <= 31 && hash.find_first_not_of(kAlphabet, 7) == std::string::npos;
}

BasicAuth::BasicAuth(std::vector<std::pair<std::string, std::string>> users)
    : users_(std::move(users)) {
  for (const auto& [name, hash] : users_) {
    if (costliest_.empty() || BcryptCost(hash) > BcryptCost(costliest_)) costliest_ = hash;
  }
}

BasicAuth::Verdict BasicAuth::Check(const std::string& authorization, CheckSlots& slots,
                                    std::string* user) {
  static const std::string kScheme = "Basic ";
  std::string decoded;
  if (users_.empty() || authorization.compare(0, kScheme.size(), kScheme) != 0 ||
      !DecodeBase64(authorization.substr(kScheme.size()), &decoded)) {
    return Verdict::kNoCredentials;
  }
  const size_t colon = decoded.find(':');
  if (colon == std::string::npos) return Verdict::kNoCredentials;
  *user = decoded.substr(0, colon);
  const std::string password = decoded.substr(colon + 1);
  const std::string digest = PairDigest(*user, password);
  {
    std::lock_guard<std::mutex> guard(mu_);
    if (verified_.count(digest) != 0) return Verdict::kAccepted;
  }
  const std::string* hash = nullptr;
  for (const auto& [name, h] : users_) {
    if (name == *user) hash = &h;
  }
  if (!slots.TryAcquire()) return Verdict::kBusy;
  bool matches;
  {
    struct Slot {
      CheckSlots& slots;
      ~Slot() { slots.Release(); }
    } slot{slots};
    // An unknown user's password is hashed too, and then refused.
    hashed_.fetch_add(1, std::memory_order_relaxed);
    matches = Matches(password, hash != nullptr ? *hash : costliest_);
  }
  if (hash == nullptr) return Verdict::kUnknownUser;
  if (!matches) return Verdict::kWrongPassword;
  if (!digest.empty()) {
    std::lock_guard<std::mutex> guard(mu_);
    if (verified_.size() >= kMaxVerified) verified_.clear();
    verified_.insert(digest);
  }
  return Verdict::kAccepted;
}

}  // namespace axo::http
