// Helpers shared by the situation tests: padded values and an event sink
// that records the rows the message counters push.
#ifndef ZEP_TESTS_SITUATIONS_TEST_UTIL_H_
#define ZEP_TESTS_SITUATIONS_TEST_UTIL_H_

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

// A text without its trailing blanks.
inline std::string trim(std::string s) {
  s.erase(s.find_last_not_of(' ') + 1);
  return s;
}
template <size_t N>
std::string column(const char (&field)[N]) {
  return trim(std::string(field, N));
}

// Records every event row pushed while it lives. Single-threaded use only.
class EventRecorder {
 public:
  EventRecorder() : previous_(ZEPDCMC_MessageCounter::setEventSink(&record)) { rows().clear(); }
  ~EventRecorder() { ZEPDCMC_MessageCounter::setEventSink(previous_); }
  EventRecorder(const EventRecorder&) = delete;
  EventRecorder& operator=(const EventRecorder&) = delete;

  static std::vector<zep_zepmatt_data_t>& rows() {
    static std::vector<zep_zepmatt_data_t> v;
    return v;
  }

 private:
  static uint32_t record(const zep_zepmatt_data_t* pushed, int n) {
    rows().insert(rows().end(), pushed, pushed + n);
    return 0;
  }
  const ZEPDCMC_MessageCounter::EventSink previous_;
};

}  // namespace situations_test

#endif  // ZEP_TESTS_SITUATIONS_TEST_UTIL_H_
