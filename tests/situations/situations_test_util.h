// Helpers shared by the situation tests: padded values and an event sink
// that records the rows a counter pushes.
#ifndef ZEP_TESTS_SITUATIONS_TEST_UTIL_H_
#define ZEP_TESTS_SITUATIONS_TEST_UTIL_H_

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "situations/zepdcmc.h"
#include "tables/zepmatt.h"

namespace situations_test {

// `text` blank-padded to `width`, as a table column holds it.
inline std::string pad(const std::string& text, size_t width = 64) {
  std::string out = text.substr(0, width);
  out.resize(width, ' ');
  return out;
}

// A text column without its trailing blanks.
template <size_t N>
std::string column(const char (&field)[N]) {
  std::string s(field, N);
  s.erase(s.find_last_not_of(' ') + 1);
  return s;
}

// Records every event row pushed while it lives.
class EventRecorder {
 public:
  EventRecorder() {
    events().clear();
    previous_ = ZEPDCMC_MessageCounter::setEventSink(&record);
  }
  ~EventRecorder() { ZEPDCMC_MessageCounter::setEventSink(previous_); }
  EventRecorder(const EventRecorder&) = delete;
  EventRecorder& operator=(const EventRecorder&) = delete;

 private:
  ZEPDCMC_MessageCounter::EventSink previous_;

 public:

  std::vector<zep_zepmatt_data_t> rows() const {
    std::lock_guard<std::mutex> guard(mutex());
    return events();
  }
  size_t size() const { return rows().size(); }
  void clear() {
    std::lock_guard<std::mutex> guard(mutex());
    events().clear();
  }

 private:
  static std::vector<zep_zepmatt_data_t>& events() {
    static std::vector<zep_zepmatt_data_t> v;
    return v;
  }
  static std::mutex& mutex() {
    static std::mutex m;
    return m;
  }
  static uint32_t record(const zep_zepmatt_data_t* rows, int n) {
    std::lock_guard<std::mutex> guard(mutex());
    for (int i = 0; i < n; ++i) events().push_back(rows[i]);
    return 0;
  }
};

}  // namespace situations_test

#endif  // ZEP_TESTS_SITUATIONS_TEST_UTIL_H_
