// The framework's periodic worker thread.
#include "axo/base/every_second.h"

#include <chrono>
#include <string>
#include <system_error>

namespace axo_internal {

axo::Status EverySecond::Start(std::function<void()> round, const char* what) {
  std::lock_guard<std::mutex> guard(mu_);
  if (thread_.joinable()) return axo::Status::OK();
  stop_ = false;
  try {
    thread_ = std::thread([this, round = std::move(round)] {
      std::unique_lock<std::mutex> lock(mu_);
      while (!stop_) {
        lock.unlock();
        round();
        lock.lock();
        wake_.wait_for(lock, std::chrono::seconds(1), [this] { return stop_; });
      }
    });
  } catch (const std::system_error& e) {
    return axo::Status::Failed(std::string("cannot start the ") + what + " thread: " + e.what());
  }
  return axo::Status::OK();
}

void EverySecond::Stop() {
  std::thread thread;
  {
    std::lock_guard<std::mutex> guard(mu_);
    stop_ = true;
    thread.swap(thread_);
  }
  wake_.notify_all();
  if (thread.joinable()) thread.join();
}

}  // namespace axo_internal
