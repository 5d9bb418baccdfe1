// The framework's shared text helpers, its table of compare operators and
// its periodic worker thread.
#include "axo_internal.h"

#include <cctype>
#include <charconv>
#include <cstring>
#include <ctime>
#include <nlohmann/json.hpp>
#include <system_error>

namespace axo_internal {

std::string ValidUtf8(std::string_view text) {
  using Json = nlohmann::json;
  // The dump replaces what is not UTF-8; reading it back undoes its escapes.
  const std::string dumped =
      Json(std::string(text)).dump(-1, ' ', false, Json::error_handler_t::replace);
  const Json back = Json::parse(dumped, nullptr, false);
  return back.is_string() ? back.get<std::string>() : std::string();
}

std::string Upper(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

std::string Lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

std::string_view TrimBlanks(std::string_view text) {
  size_t end = text.find_last_not_of(' ');
  return end == std::string_view::npos ? std::string_view() : text.substr(0, end + 1);
}

std::string_view TrimSpace(std::string_view text) {
  auto space = [](char c) { return isspace(static_cast<unsigned char>(c)) != 0; };
  while (!text.empty() && space(text.front())) text.remove_prefix(1);
  while (!text.empty() && space(text.back())) text.remove_suffix(1);
  return text;
}

bool ParseInteger(std::string_view text, long long low, long long high, long long* out, int base) {
  long long v = 0;
  const char* end = text.data() + text.size();
  std::from_chars_result r = std::from_chars(text.data(), end, v, base);
  if (text.empty() || r.ec != std::errc() || r.ptr != end || v < low || v > high) return false;
  *out = v;
  return true;
}

bool CopyBounded(char* dst, size_t size, std::string_view src) {
  size_t n = src.size() < size ? src.size() : size - 1;
  if (n > 0) memcpy(dst, src.data(), n);
  dst[n] = '\0';
  return n == src.size();
}

std::string UtcTime(time_t t, const char* format) {
  struct tm tm;
  gmtime_r(&t, &tm);
  char buf[64];
  return strftime(buf, sizeof(buf), format, &tm) == 0 ? std::string() : std::string(buf);
}

std::string Rfc3339(time_t t) { return UtcTime(t, "%Y-%m-%dT%H:%M:%SZ"); }

const OperatorName* OperatorAt(std::string_view text) {
  for (const OperatorName& op : kOperators) {
    if (text.substr(0, op.text.size()) == op.text) return &op;
  }
  return nullptr;
}

bool ParseOperator(std::string_view text, _IntfOper* code) {
  const OperatorName* op = OperatorAt(text);
  if (op == nullptr || op->text.size() != text.size()) return false;
  *code = op->code;
  return true;
}

bool KnownOperator(short code) {
  for (const OperatorName& op : kOperators) {
    if (op.code == code) return true;
  }
  return false;
}

int EverySecond::Start(std::function<void()> round, const char* what, std::string* error) {
  std::lock_guard<std::mutex> guard(mu_);
  if (thread_.joinable()) return 0;
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
    *error = std::string("cannot start the ") + what + " thread: " + e.what();
    return 1;
  }
  return 0;
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
