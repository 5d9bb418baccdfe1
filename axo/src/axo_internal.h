// Framework-internal links between the process, table and request modules,
// and the small text helpers they share. Not part of the API the agent codes
// against.
#ifndef AXO_SRC_AXO_INTERNAL_H_
#define AXO_SRC_AXO_INTERNAL_H_

#include <condition_variable>
#include <cstddef>
#include <ctime>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "axo/axo.h"
#include "axo/request.h"
#include "axo/vexor.h"

class TableManager;

// State of one situation, shared by its sampler (Dispatch) and the request
// API. Owned by the request API; outlives the sampler.
struct AXO_SituationState {
  std::string name;
  std::string table;
  bool eventDriven = false;  // decided by pushed rows (ZEPMATT)
  int sitnameOffset = -1;    // the SITNAME column, -1 when the table has none
  int sitnameWidth = 0;
  std::vector<axo::ColumnDescription> columns;  // for decoding event rows

  // Written by CheckForException and read by Dispatch, both under the
  // manager lock during an event push.
  bool ownSeen = false;
  bool ownPassed = false;
  std::string ownRow;

  std::mutex mu;  // guards raised and lastChange
  bool raised = false;
  time_t lastChange = 0;
};

namespace axo_internal {

// --- text helpers -------------------------------------------------------------

// `text` with the ASCII letters in upper case, or in lower case.
std::string Upper(std::string text);
std::string Lower(std::string text);

// `text` without the trailing blanks (' ') that pad fixed-width fields.
std::string_view TrimBlanks(std::string_view text);

// `text` without leading and trailing white space.
std::string_view TrimSpace(std::string_view text);

// Parses the whole of `text` as an integer in `base` (10 or 16): an optional
// '-' and digits, nothing else (no blanks, no '+'). Returns false, leaving
// `*out` alone, for anything else or a value outside [low, high].
bool ParseInteger(std::string_view text, long long low, long long high, long long* out,
                  int base = 10);

// `text` as valid UTF-8: every byte that is not part of a well-formed UTF-8
// sequence becomes U+FFFD, exactly as the JSON answers write it (one
// mechanism, the JSON library's, for every text the agent sends out).
std::string ValidUtf8(std::string_view text);

// Copies `src` into `dst[size]` (size > 0), cut to size-1 bytes and
// terminated. Returns false when it was cut.
bool CopyBounded(char* dst, size_t size, std::string_view src);

// `t` in UTC through strftime's `format` (at most 63 characters of result).
std::string UtcTime(time_t t, const char* format);
// `t` as an RFC 3339 (ISO 8601) UTC time, "2026-12-07T05:00:00Z".
std::string Rfc3339(time_t t);

// --- compare operators -----------------------------------------------------

// The compare operators as written in filter terms ("ATTR>=10", a
// situation's "op"), with their codes.
struct OperatorName {
  std::string_view text;
  _IntfOper code;
};
// Two-character operators come first, so that the first entry that prefixes
// a text is the longest operator there.
inline constexpr OperatorName kOperators[] = {
    {"!=", FQX1_NE}, {"<=", FQX1_LE}, {">=", FQX1_GE},
    {"=", FQX1_EQ},  {"<", FQX1_LT},  {">", FQX1_GT},
};

// The operator that `text` starts with, or null.
const OperatorName* OperatorAt(std::string_view text);
// True when `text` is an operator; `*code` is then its code.
bool ParseOperator(std::string_view text, _IntfOper* code);
// True when `code` is a known compare operator code.
bool KnownOperator(short code);

// --- waiting for the agent's data ----------------------------------------------

// How long a framework thread that serves requests or samples (operator API,
// history collector, situation timer) waits for the agent's locks before it
// answers "busy" (OSB1_WaitLimit, AXO_RC_BUSY).
inline constexpr int kDataWaitMillis = 5000;

// The error text of a request that found the agent's data locked past the
// calling thread's wait limit.
std::string BusyError();

// --- links between the modules ------------------------------------------------

// Moves `state` to `raised`; when that is a change, records an event with
// `row` (a row record of the situation's table, or null) at `when`.
void SetSituationState(AXO_SituationState* state, bool raised, const char* row, time_t when);

// Decodes one row record through `columns`.
axo::Row DecodeRow(const std::vector<axo::ColumnDescription>& columns, const char* row);

// Drops what the catalogue remembers about `manager` (it is being destroyed).
void ForgetTable(TableManager* manager);

// The registered action-command callback, or null.
AXO_CommandCallback CommandCallback();

// A thread that runs `round` at once and then once a second until stopped:
// the framework's periodic workers (situation timer, alert sender).
// Thread-safety: Start and Stop may be called from any thread.
class EverySecond {
 public:
  EverySecond() = default;
  EverySecond(const EverySecond&) = delete;
  EverySecond& operator=(const EverySecond&) = delete;
  // Starts the thread unless it runs. Returns 0, or 1 with `*error` naming
  // `what` when the thread cannot be created.
  int Start(std::function<void()> round, const char* what, std::string* error);
  // Wakes the thread and waits for it to end its round.
  void Stop();

 private:
  std::mutex mu_;
  std::condition_variable wake_;
  bool stop_ = false;  // guarded by mu_
  std::thread thread_;
};

// The situation timer of omxmain: a thread that calls pollSituations every
// second. Start returns 0, or non-zero with `*error` when the thread cannot
// be started; stop waits for the thread.
int StartSituationTimer(std::string* error);
void StopSituationTimer();

}  // namespace axo_internal

#endif  // AXO_SRC_AXO_INTERNAL_H_
