// The framework's shared text helpers and its table of compare operators.
#include "axo_internal.h"

#include <cctype>
#include <charconv>
#include <cstring>

namespace axo_internal {

std::string Upper(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
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

bool ParseInteger(std::string_view text, long long low, long long high, long long* out,
                  int base) {
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

}  // namespace axo_internal
