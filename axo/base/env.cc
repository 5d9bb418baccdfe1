// The default env and the current-env slot.
#include "axo/base/env.h"

#include <sys/utsname.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>

#ifndef ZEP_ETC_DIR
#define ZEP_ETC_DIR "/etc"
#endif

namespace axo {
namespace {

class DefaultEnv final : public Env {
 public:
  time_t Now() override { return time(nullptr); }
  uid_t EffectiveUid() override { return geteuid(); }
  std::string SystemName() override {
    struct utsname u;
    return uname(&u) == 0 ? std::string(u.nodename) : std::string();
  }
  std::string EtcDir() override {
    const char* env = getenv("ZEP_ETC_DIR");
    return env != nullptr && env[0] != '\0' ? env : ZEP_ETC_DIR;
  }
  std::string TmpDir() override { return "/tmp"; }
  int FileFault(FileOp, const char*, const char*) override { return 0; }
  bool MayFailFiles() override { return false; }
};

std::atomic<Env*> g_current{nullptr};  // null: Default()

}  // namespace

Env* Env::Default() {
  static Env* const env = new DefaultEnv;  // never destroyed (see env.h)
  return env;
}

Env* Env::Current() {
  Env* env = g_current.load(std::memory_order_acquire);
  return env != nullptr ? env : Default();
}

ScopedEnv::ScopedEnv(Env* env) : previous_(g_current.exchange(env, std::memory_order_acq_rel)) {}

ScopedEnv::~ScopedEnv() { g_current.store(previous_, std::memory_order_release); }

}  // namespace axo
