// Helpers shared by the situation tests: values padded and trimmed as the
// table columns hold them.
#ifndef ZEP_TESTS_SITUATIONS_TEST_UTIL_H_
#define ZEP_TESTS_SITUATIONS_TEST_UTIL_H_

#include <string>

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

}  // namespace situations_test

#endif  // ZEP_TESTS_SITUATIONS_TEST_UTIL_H_
