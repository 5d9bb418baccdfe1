// Comparison of secrets in time that depends only on their lengths.
#include "axo/http/constant_time.h"

namespace axo::http {

bool ConstantTimeEquals(const std::string& a, const std::string& b) {
  // Every byte of `a` is compared whatever `b` holds; a length difference
  // only flips the result.
  unsigned char diff = a.size() == b.size() ? 0 : 1;
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned char other = b.empty() ? 0 : static_cast<unsigned char>(b[i % b.size()]);
    diff |= static_cast<unsigned char>(a[i]) ^ other;
  }
  return diff == 0;
}

}  // namespace axo::http
