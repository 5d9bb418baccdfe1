// The framework's periodic worker: a thread that runs a round at once and
// then once a second until stopped (the situation timer, the alert sender).
#ifndef AXO_BASE_EVERY_SECOND_H_
#define AXO_BASE_EVERY_SECOND_H_

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include "axo/base/status.h"

namespace axo_internal {

// Thread-safety: Start and Stop may be called from any thread.
class EverySecond {
 public:
  EverySecond() = default;
  EverySecond(const EverySecond&) = delete;
  EverySecond& operator=(const EverySecond&) = delete;
  // Starts the thread unless it runs. Returns ok, or kFailed naming `what`
  // when the thread cannot be created.
  axo::Status Start(std::function<void()> round, const char* what);
  // Wakes the thread and waits for it to end its round.
  void Stop();

 private:
  std::mutex mu_;
  std::condition_variable wake_;
  bool stop_ = false;  // guarded by mu_
  std::thread thread_;
};

}  // namespace axo_internal

#endif  // AXO_BASE_EVERY_SECOND_H_
