// Basic authentication of the web configuration's users (basic_auth_users):
// each password checked against its bcrypt hash by libcrypt, and the pairs
// verified once kept, so that a scrape every few seconds does not pay for
// bcrypt each time. Checks that hash are bounded in number at once
// (CheckSlots): past the bound a request is turned away without hashing,
// so a password flood holds at most that many workers and a verified pair
// never waits behind it. Framework-internal.
#ifndef AXO_HTTP_BASIC_AUTH_H_
#define AXO_HTTP_BASIC_AUTH_H_

#include <atomic>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace axo::http {

// True when `hash` is a bcrypt hash libcrypt checks: "$2a$", "$2b$" or
// "$2y$", a cost of 04 to 31, "$", then 53 characters of its alphabet.
bool IsBcryptHash(const std::string& hash);

// The cost (log2 of the rounds) of a hash that IsBcryptHash accepts.
int BcryptCost(const std::string& hash);

// The number of password checks that may hash at once, shared by every
// web configuration the API loads. Thread-safe.
class CheckSlots {
 public:
  // `limit`: checks hashing at once, at least 1.
  explicit CheckSlots(int limit) : limit_(limit) {}
  CheckSlots(const CheckSlots&) = delete;
  CheckSlots& operator=(const CheckSlots&) = delete;

  // Takes a slot without waiting: false when all `limit` are taken.
  bool TryAcquire();
  // Gives back a slot TryAcquire took.
  void Release() { busy_.fetch_sub(1, std::memory_order_release); }

 private:
  const int limit_;
  std::atomic<int> busy_{0};
};

// The users of one web configuration. Thread-safe.
class BasicAuth {
 public:
  // `users`: name and bcrypt hash (IsBcryptHash) of one cost (see
  // BcryptCost), names unique.
  explicit BasicAuth(std::vector<std::pair<std::string, std::string>> users);
  BasicAuth(const BasicAuth&) = delete;
  BasicAuth& operator=(const BasicAuth&) = delete;

  // No users: nothing to check.
  bool empty() const { return users_.empty(); }

  enum class Verdict { kAccepted, kNoCredentials, kUnknownUser, kWrongPassword, kBusy };

  // Judges `authorization`, the value of an Authorization header: accepted
  // when it is "Basic " and the base64 of "user:password" for a user whose
  // hash the password matches. A pair verified before is accepted without
  // hashing or waiting. Any other pair needs one of `slots` for its bcrypt
  // run: kBusy, without hashing, when none is free. An unknown user costs
  // the same bcrypt work as a wrong password, so that timing tells no
  // names. Sets `*user` to the name given (for the trace), when one could
  // be read.
  Verdict Check(const std::string& authorization, CheckSlots& slots, std::string* user);

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

}  // namespace axo::http

#endif  // AXO_HTTP_BASIC_AUTH_H_
