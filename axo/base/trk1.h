// Trace facility of the agent framework.
//
// Every source module of the agent owns one trace unit, named after the
// module. A unit has a level: a set of bits that say which records the
// module writes. Callers test the level with TRK1_On and then write, and
// bracket a function with a TRK1_FlowScope for its entry and exit records;
// TRK1_Printf writes unconditionally, which is how the few records that must
// always appear are written.
//
// Records go to the trace file (standard error unless --trace-file names
// one). Each record carries the UTC time to the millisecond, the thread,
// the unit name and the source line. When standard error is the journal
// (JOURNAL_STREAM names its device and inode), records written there start
// with a syslog priority: a message id's last letter (ZEP0252E: E) says
// error <3>, warning <4> or information <6>; entry and exit events and
// records written after a TRK1_On test of detail, dump or flow bits are
// debug <7>; after a test of TRK1_ERROR, error <3>; the rest information.
// All functions are thread-safe.
#ifndef AXO_TRK1_H_
#define AXO_TRK1_H_

#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

// Level bits.
enum : int {
  TRK1_DETAIL = 1,   // detail records and informational messages
  TRK1_DUMP = 16,    // row dumps, subnode registration record
  TRK1_FLOW = 64,    // entry and exit events
  TRK1_ERROR = 128,  // error and warning messages
};

// Event kinds of TRK1_Event.
enum : int {
  TRK1_ENTRY = 0,
  TRK1_EXIT_RC = 1,
  TRK1_EXIT = 2,
};

// One trace unit. Define units at namespace scope with TRK1_UNIT; they
// register themselves so that --trace can address them by name.
struct TRK1_Unit {
  explicit TRK1_Unit(const char* unit_name);
  TRK1_Unit(const TRK1_Unit&) = delete;
  TRK1_Unit& operator=(const TRK1_Unit&) = delete;

  const char* name;
  std::atomic<int> level;  // resolved level, valid when generation matches
  std::atomic<unsigned> generation;
};

#define TRK1_UNIT(var, unit_name) static TRK1_Unit var(unit_name)

// Returns the current level bits of `unit`. `line` is the caller's source line.
int TRK1_Sync(TRK1_Unit* unit, int line);

// True when the level of `unit` has any of `bits`. The one test every module
// uses before it writes a record: `if (TRK1_On(&unit, TRK1_DETAIL)) ...`.
#define TRK1_On(unit, bits) ((TRK1_Sync((unit), __LINE__) & (bits)) != 0 && TRK1_NoteBits(bits))

// Remembers, for this thread's next record, the level bits a TRK1_On test
// passed with (they give the record its priority). Returns true.
bool TRK1_NoteBits(int bits);

// Writes an entry (TRK1_ENTRY), exit-with-code (TRK1_EXIT_RC, `rc` is the
// code) or exit (TRK1_EXIT) event for function `func`.
void TRK1_Event(TRK1_Unit* unit, int line, const char* func, int kind, long rc = 0);

// Writes one formatted record. A trailing newline in the text is dropped.
void TRK1_Printf(TRK1_Unit* unit, int line, const char* fmt, ...)
    __attribute__((format(printf, 3, 4)));

// Writes one formatted record, as TRK1_Printf does, unless the records of its
// message number (the format's first word, "AXO0105W") have used their share:
// at most TRK1_LIMITED_PER_SECOND records per message number in each second
// of the framework clock (AXO_Now). Later records of that second are dropped
// and counted; the next record of the message number after that second is
// preceded by one record "<number> <N> more suppressed". For records that an
// unauthenticated peer can cause once per request or connection, so that a
// flood cannot fill the trace: their counters in /metrics keep the full count.
// A format without a message number is limited under its whole text.
void TRK1_PrintfLimited(TRK1_Unit* unit, int line, const char* fmt, ...)
    __attribute__((format(printf, 3, 4)));
inline constexpr int TRK1_LIMITED_PER_SECOND = 5;

// Writes the entry event of `func` now and its exit event when the scope
// ends, when the unit's level has TRK1_FLOW. Both records carry the caller's
// source line: the entry the line that opened the scope, the exit the line
// of exitWith() when the code was recorded there, else the opening line.
// Declare it as `TRK1_FlowScope flow(&unit, "func");`.
class TRK1_FlowScope {
 public:
  // `line` defaults to the caller's line (a builtin both compilers know,
  // where std::source_location is not available to every one of them).
  TRK1_FlowScope(TRK1_Unit* unit, const char* func, int line = __builtin_LINE())
      : unit_(unit), func_(func), line_(line), on_((TRK1_Sync(unit, line_) & TRK1_FLOW) != 0) {
    if (on_) TRK1_Event(unit_, line_, func_, TRK1_ENTRY);
  }
  ~TRK1_FlowScope() {
    if (on_) TRK1_Event(unit_, line_, func_, has_rc_ ? TRK1_EXIT_RC : TRK1_EXIT, rc_);
  }
  TRK1_FlowScope(const TRK1_FlowScope&) = delete;
  TRK1_FlowScope& operator=(const TRK1_FlowScope&) = delete;

  // Records `rc` for the exit event and returns it, for `return flow.exitWith(x);`.
  template <typename T>
  T exitWith(T rc, int line = __builtin_LINE()) {
    rc_ = static_cast<long>(rc);
    has_rc_ = true;
    line_ = line;
    return rc;
  }

 private:
  TRK1_Unit* unit_;
  const char* func_;
  int line_;
  bool on_;
  bool has_rc_ = false;
  long rc_ = 0;
};

// --- configuration (framework side) ---------------------------------------

// Sets levels from a "--trace" value: "UNIT=BITS,UNIT=BITS", where UNIT
// "all" addresses every unit and BITS is decimal or 0x hexadecimal.
// Returns false (and changes nothing) when the text is malformed.
bool TRK1_Configure(const std::string& spec);

// True when `spec` is a well-formed "--trace" value; changes nothing.
bool TRK1_CheckSpec(const std::string& spec);

// Sets the level of one unit by name ("all" for every unit).
void TRK1_SetLevel(const std::string& unit_name, int bits);

// Restores the default: bit 128 for every unit, no per-unit settings.
void TRK1_ResetLevels();

// Directs records to `path` (appending). Returns false when it cannot be
// opened; records then keep going where they went before.
bool TRK1_SetTraceFile(const std::string& path);

// Collects every record written while it lives (in addition to the trace
// file), for tests. Captures may nest or overlap; each sees the records
// written during its own lifetime.
class TRK1_Capture {
 public:
  TRK1_Capture();
  ~TRK1_Capture();
  TRK1_Capture(const TRK1_Capture&) = delete;
  TRK1_Capture& operator=(const TRK1_Capture&) = delete;

  // The message texts (without the record prefix) written so far.
  std::vector<std::string> messages() const;
  // True when any message so far contains `text`.
  bool contains(const std::string& text) const;
  // The number of messages that contain `text`.
  int count(const std::string& text) const;
  void clear();

 private:
  std::vector<std::string> records_;  // guarded by the facility's mutex
};

// Writes a formatted record of `unit` at this line when one of `bits` is
// on; the format's arguments are evaluated only then:
//   TRK1_Trace(&unit, TRK1_ERROR, "ZEP00103E Cannot rename %s\n", path);
#define TRK1_Trace(unit, bits, ...)                                          \
  do {                                                                       \
    if (TRK1_On((unit), (bits))) TRK1_Printf((unit), __LINE__, __VA_ARGS__); \
  } while (0)

#endif  // AXO_TRK1_H_
