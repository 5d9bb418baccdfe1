// The one failure shape of the framework's own operations: a Status is
// either ok or a code with a message for the caller (and, through the
// operator API, for the operator). Operations that can fail return a
// Status; what they produce goes to an out-parameter that is set only when
// the result is ok.
//
// Not used by the calls the agent codes against (OSB1_*, AXO_*, TRK1_*,
// the vexor and TableManager codes AXO_RC_*): those keep their return codes.
//
// A Status is a value: cheap to copy when ok, thread-compatible.
#ifndef AXO_BASE_STATUS_H_
#define AXO_BASE_STATUS_H_

#include <string>
#include <utility>

namespace axo {

// What went wrong. The operator API answers each with its HTTP status
// (in parentheses).
enum Code : int {
  kOk = 0,
  kBadRequest = 1,   // malformed input: unknown attribute, operator, value (400)
  kNotFound = 2,     // unknown table or situation (404)
  kConflict = 3,     // a situation of that name exists (409)
  kFailed = 4,       // the table, the store or the system could not do it (500)
  kUnavailable = 5,  // the agent's data stayed locked past the wait limit;
                     // nothing was done, the request may be sent again (503)
  kTooMany = 6,      // as many situations as --max-situations allows exist (429)
};

class Status {
 public:
  Status() = default;  // ok
  Status(Code code, std::string message) : code_(code), message_(std::move(message)) {}

  static Status OK() { return Status(); }
  static Status BadRequest(std::string m) { return Status(kBadRequest, std::move(m)); }
  static Status NotFound(std::string m) { return Status(kNotFound, std::move(m)); }
  static Status Conflict(std::string m) { return Status(kConflict, std::move(m)); }
  static Status Failed(std::string m) { return Status(kFailed, std::move(m)); }
  static Status Unavailable(std::string m) { return Status(kUnavailable, std::move(m)); }
  static Status TooMany(std::string m) { return Status(kTooMany, std::move(m)); }

  bool ok() const { return code_ == kOk; }
  Code code() const { return code_; }
  // Why it failed, for a person; empty when ok.
  const std::string& message() const { return message_; }

 private:
  Code code_ = kOk;
  std::string message_;
};

}  // namespace axo

#endif  // AXO_BASE_STATUS_H_
