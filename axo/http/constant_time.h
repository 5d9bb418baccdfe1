// Comparison of secrets (tokens, password hashes) that tells nothing by its
// timing but their lengths. Framework-internal.
#ifndef AXO_HTTP_CONSTANT_TIME_H_
#define AXO_HTTP_CONSTANT_TIME_H_

#include <string>

namespace axo::http {

// Compares two secrets in time that depends only on their lengths.
// Thread-safe.
bool ConstantTimeEquals(const std::string& a, const std::string& b);

}  // namespace axo::http

#endif  // AXO_HTTP_CONSTANT_TIME_H_
