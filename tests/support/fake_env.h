// A test env (axo/base/env.h): a clock, user, system name and directories
// the test sets, and file operations that fail where the test says, the way
// a full disk or a broken device would. Whatever the test has not set is
// asked of the env below it (Env::Default() unless given another).
//
// Install it for a scope with axo::ScopedEnv:
//   zeptest::FakeEnv env_;
//   axo::ScopedEnv useEnv_{&env_};
//
// Thread-safety: every call may come from any thread; the code under test
// reads it from its own threads while the test moves the clock.
#ifndef ZEP_TESTS_SUPPORT_FAKE_ENV_H_
#define ZEP_TESTS_SUPPORT_FAKE_ENV_H_

#include <sys/types.h>

#include <atomic>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>
#include <vector>

#include "axo/base/env.h"

namespace zeptest {

class FakeEnv : public axo::EnvWrapper {
 public:
  using FileOp = axo::Env::FileOp;

  explicit FakeEnv(axo::Env* base = axo::Env::Default()) : EnvWrapper(base) {}

  // --- clock: the base's until set -----------------------------------------

  // Stops the clock at `t`.
  void SetNow(time_t t) {
    now_.store(t);
    clock_.store(&FixedClock);
  }
  // Makes `clock` the clock (a test that moves time by hand); null gives
  // the base's back.
  void SetClock(time_t (*clock)()) { clock_.store(clock); }

  // --- identity ------------------------------------------------------------

  // Pretends the process acts as `uid`; a negative value gives the base's
  // back.
  void SetEffectiveUid(long long uid) { uid_.store(uid); }
  // Makes the system name `name`; "" makes it unknown; null gives the
  // base's back.
  void SetSystemName(const char* name) {
    std::lock_guard<std::mutex> guard(mu_);
    nameSet_ = name != nullptr;
    name_ = name != nullptr ? name : "";
  }

  // --- directories: empty gives the base's back ----------------------------

  void SetEtcDir(const std::string& dir) {
    std::lock_guard<std::mutex> guard(mu_);
    etcDir_ = dir;
  }
  void SetTmpDir(const std::string& dir) {
    std::lock_guard<std::mutex> guard(mu_);
    tmpDir_ = dir;
  }

  // --- file faults ---------------------------------------------------------

  // Makes operations `op` on paths containing `pathPart` (empty: every
  // path; for a rename, either name) fail with `errnoValue`: the first
  // `after` matching calls pass, then `count` fail (negative: every later
  // one). Faults stay until ClearFileFaults(); the first that applies wins.
  void FailFiles(FileOp op, const std::string& pathPart, int errnoValue, int count = -1,
                 int after = 0) {
    std::lock_guard<std::mutex> guard(mu_);
    faults_.push_back(Fault{op, pathPart, errnoValue, count, after > 0 ? after : 0});
    failsFiles_.store(true);
  }
  void ClearFileFaults() {
    std::lock_guard<std::mutex> guard(mu_);
    faults_.clear();
    failsFiles_.store(false);
  }

  // --- axo::Env ------------------------------------------------------------

  time_t Now() override {
    time_t (*clock)() = clock_.load();
    if (clock == &FixedClock) return now_.load();
    return clock != nullptr ? clock() : target()->Now();
  }
  uid_t EffectiveUid() override {
    const long long uid = uid_.load();
    return uid >= 0 ? static_cast<uid_t>(uid) : target()->EffectiveUid();
  }
  std::string SystemName() override {
    {
      std::lock_guard<std::mutex> guard(mu_);
      if (nameSet_) return name_;
    }
    return target()->SystemName();
  }
  std::string EtcDir() override {
    {
      std::lock_guard<std::mutex> guard(mu_);
      if (!etcDir_.empty()) return etcDir_;
    }
    return target()->EtcDir();
  }
  std::string TmpDir() override {
    {
      std::lock_guard<std::mutex> guard(mu_);
      if (!tmpDir_.empty()) return tmpDir_;
    }
    return target()->TmpDir();
  }
  int FileFault(FileOp op, const char* path, const char* other) override {
    if (failsFiles_.load()) {
      std::lock_guard<std::mutex> guard(mu_);
      for (Fault& f : faults_) {
        if (!f.Matches(op, path, other)) continue;
        if (f.skip > 0) {
          --f.skip;
          continue;
        }
        if (f.remaining == 0) continue;
        if (f.remaining > 0) --f.remaining;
        return f.errnoValue;
      }
    }
    return target()->FileFault(op, path, other);
  }
  bool MayFailFiles() override { return failsFiles_.load() || target()->MayFailFiles(); }

 private:
  struct Fault {
    FileOp op;
    std::string pathPart;
    int errnoValue;
    int remaining;  // calls still to fail; negative: unlimited
    int skip;       // matching calls that still pass

    bool Matches(FileOp o, const char* path, const char* other) const {
      if (o != op) return false;
      if (pathPart.empty()) return true;
      if (path != nullptr && std::strstr(path, pathPart.c_str()) != nullptr) return true;
      return other != nullptr && std::strstr(other, pathPart.c_str()) != nullptr;
    }
  };

  // Marks the stopped clock in clock_; never called.
  static time_t FixedClock() { return 0; }

  std::atomic<time_t (*)()> clock_{nullptr};  // null: the base's
  std::atomic<time_t> now_{0};                // the stopped clock's time
  std::atomic<long long> uid_{-1};            // negative: the base's
  std::atomic<bool> failsFiles_{false};       // faults_ is not empty

  std::mutex mu_;
  bool nameSet_ = false;       // guarded by mu_
  std::string name_;           // guarded by mu_
  std::string etcDir_;         // guarded by mu_; empty: the base's
  std::string tmpDir_;         // guarded by mu_; empty: the base's
  std::vector<Fault> faults_;  // guarded by mu_
};

}  // namespace zeptest

#endif  // ZEP_TESTS_SUPPORT_FAKE_ENV_H_
