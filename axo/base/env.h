// The process's surroundings, as one replaceable object: the current time,
// the effective user, the machine's system name, the etc and temporary
// directories, and whether a file operation of the agent fails.
//
// The framework and the agent ask Env::Current() for these, never the
// system directly: AXO_Now() and ZEPPORT::now() read its clock (one clock
// for both), OSB1_Info its system name, ZEPPORT::effectiveUid() its user,
// ZEPUTIL its directories, and every ZEPPORT file operation asks FileFault
// first. The process runs on Env::Default(), which does the real thing;
// a test installs an env of its own for a scope with ScopedEnv, usually an
// EnvWrapper that replaces some answers and passes the rest on.
//
// The end-to-end seams of the started agent (axo/base/testpause.h) are not
// part of the env: they shift the clock on top of it, and only in the
// agent built with them.
#ifndef AXO_BASE_ENV_H_
#define AXO_BASE_ENV_H_

#include <sys/types.h>

#include <ctime>
#include <string>

namespace axo {

// Thread-safety: every implementation must be safe to call from any thread,
// since the framework's threads and the agent's read it at once.
class Env {
 public:
  // The file operations of the agent's port layer (ZEPPORT) that an env may
  // make fail.
  enum class FileOp { kOpen, kRead, kWrite, kSync, kClose, kRename, kUnlink, kMkdir };

  Env() = default;
  Env(const Env&) = delete;
  Env& operator=(const Env&) = delete;
  virtual ~Env() = default;

  // The env that does the real thing. Never destroyed, so threads that
  // still run at exit may use it.
  static Env* Default();
  // The env in force: the one the innermost live ScopedEnv installed, else
  // Default(). Never null.
  static Env* Current();

  // Seconds since the epoch (default: time()).
  virtual time_t Now() = 0;
  // The effective user id the process acts as (default: geteuid()).
  virtual uid_t EffectiveUid() = 0;
  // The machine's system name, its node name (default: uname()); empty when
  // it cannot be told.
  virtual std::string SystemName() = 0;
  // The directory holding the agent's base-directory file (default: the
  // environment variable ZEP_ETC_DIR when set and not empty -- for the
  // end-to-end tests and the demo, so that a started binary never reads the
  // real one -- else the build setting ZEP_ETC_DIR, "/etc" unless changed).
  virtual std::string EtcDir() = 0;
  // The temporary directory (default: "/tmp").
  virtual std::string TmpDir() = 0;

  // Asked before the agent's file operation `op` on `path` (`other`: a
  // rename's target, else null). Returns 0 to let the operation run, or the
  // errno value it fails with, as a full disk or a broken device would
  // make it fail (default: always 0).
  virtual int FileFault(FileOp op, const char* path, const char* other) = 0;
  // False when FileFault answers 0 to every call: per-line reads then skip
  // asking (default: false).
  virtual bool MayFailFiles() = 0;
};

// An env that passes every call on to `target`; a test env derives from it
// and overrides only what it replaces. Owns nothing: `target` must outlive
// it.
class EnvWrapper : public Env {
 public:
  explicit EnvWrapper(Env* target) : target_(target) {}

  Env* target() const { return target_; }

  time_t Now() override { return target_->Now(); }
  uid_t EffectiveUid() override { return target_->EffectiveUid(); }
  std::string SystemName() override { return target_->SystemName(); }
  std::string EtcDir() override { return target_->EtcDir(); }
  std::string TmpDir() override { return target_->TmpDir(); }
  int FileFault(FileOp op, const char* path, const char* other) override {
    return target_->FileFault(op, path, other);
  }
  bool MayFailFiles() override { return target_->MayFailFiles(); }

 private:
  Env* const target_;
};

// Makes `env` the current env while the guard lives, then restores the one
// before it. Guards nest, and must end in the reverse order they began.
// Requires: `env` outlives the guard, and no thread still uses it once the
// guard ends (a test stops the code under test first). Installing and
// restoring are atomic, so threads that read the env meanwhile see one or
// the other; tests install before they start the code under test.
class ScopedEnv {
 public:
  explicit ScopedEnv(Env* env);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  Env* const previous_;  // null: Default()
};

}  // namespace axo

#endif  // AXO_BASE_ENV_H_
