// Basic authentication of the web configuration's users (basic_auth_users):
// each password checked against its bcrypt hash by libcrypt, and the pairs
// verified once kept, so that a scrape every few seconds does not pay for
// bcrypt each time. Framework-internal.
#ifndef AXO_API_BASIC_AUTH_H_
#define AXO_API_BASIC_AUTH_H_

#include <atomic>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace axo::api {

// True when `hash` is a bcrypt hash libcrypt checks: "$2a$", "$2b$" or
// "$2y$", a cost of 04 to 31, "$", then 53 characters of its alphabet.
bool IsBcryptHash(const std::string& hash);

// The users of one web configuration. Thread-safe.
class BasicAuth {
 public:
  // `users`: name and bcrypt hash (IsBcryptHash), names unique.
  explicit BasicAuth(std::vector<std::pair<std::string, std::string>> users);
  BasicAuth(const BasicAuth&) = delete;
  BasicAuth& operator=(const BasicAuth&) = delete;

  // No users: nothing to check.
  bool empty() const { return users_.empty(); }

  enum class Verdict { kAccepted, kNoCredentials, kUnknownUser, kWrongPassword };

  // Judges `authorization`, the value of an Authorization header: accepted
  // when it is "Basic " and the base64 of "user:password" for a user whose
  // hash the password matches. An unknown user costs the same bcrypt work
  // as a wrong password, so that timing tells no names. Sets `*user` to the
  // name given (for the trace), when one could be read.
  Verdict Check(const std::string& authorization, std::string* user);

  // The passwords hashed so far (bcrypt runs): the cost a cache saves.
  size_t hashed() const { return hashed_.load(std::memory_order_relaxed); }

 private:
  // Verified pairs kept at most; past it the memory starts anew.
  static constexpr size_t kMaxVerified = 1024;

  const std::vector<std::pair<std::string, std::string>> users_;
  std::string costliest_;  // the hash an unknown user is checked against
  std::atomic<size_t> hashed_{0};

  std::mutex mu_;
  std::set<std::string> verified_;  // SHA-256 of user, NUL, password; guarded by mu_
};

}  // namespace axo::api

#endif  // AXO_API_BASIC_AUTH_H_
