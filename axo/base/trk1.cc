// Trace facility: per-unit levels and the record writer.
#include "axo/base/trk1.h"

#include <pthread.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <mutex>
#include <string_view>
#include <utility>

#include "axo/base/clock.h"
#include "axo/base/text.h"

namespace {

// Shared state of the facility. Built on first use so that units defined in
// other translation units can register during static initialisation.
struct TraceState {
  std::mutex mu;
  std::map<std::string, int> unit_levels;  // explicit per-unit settings
  int all_level = TRK1_ERROR;              // "all=" or the default
  std::atomic<unsigned> generation{1};
  FILE* out = stderr;
  bool own_out = false;
  std::vector<std::vector<std::string>*> captures;  // live TRK1_Capture records
  // TRK1_PrintfLimited's share of each message number in its current second.
  struct Share {
    time_t second = 0;
    int written = 0;                    // records written in `second`
    unsigned long long suppressed = 0;  // records dropped since the last one written
  };
  std::map<std::string, Share, std::less<>> shares;  // by message number, a bounded set
  int journal = -1;  // standard error is the journal: 1, not: 0, not known yet: -1
};

// The level bits of this thread's last passing TRK1_On test, until the
// next record.
thread_local int t_noted_bits = 0;

// True when standard error is the journal's stream: JOURNAL_STREAM holds
// "DEVICE:INODE" of the stream the service manager connected it to.
bool StderrIsJournal() {
  const char* stream = getenv("JOURNAL_STREAM");
  struct stat st;
  if (stream == nullptr || fstat(STDERR_FILENO, &st) != 0) return false;
  unsigned long long dev = 0, ino = 0;
  return sscanf(stream, "%llu:%llu", &dev, &ino) == 2 && dev == st.st_dev && ino == st.st_ino;
}

// The message number that starts `text` ("ZEP0252E": three or four capitals,
// four or five digits, a letter, then a blank or the end), or "".
std::string_view MessageId(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && i < 4 && text[i] >= 'A' && text[i] <= 'Z') ++i;
  size_t digits = i;
  while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') ++digits;
  if (i >= 3 && digits - i >= 4 && digits - i <= 5 && digits < text.size() &&
      (digits + 1 == text.size() || text[digits + 1] == ' ')) {
    return text.substr(0, digits + 1);
  }
  return {};
}

// The syslog priority of a record: see the top of trk1.h.
int Priority(std::string_view text, bool event, int noted_bits) {
  if (const std::string_view id = MessageId(text); !id.empty()) {
    switch (id.back()) {
      case 'E':
        return 3;
      case 'W':
        return 4;
      case 'I':
        return 6;
    }
  }
  if (event) return 7;
  if (noted_bits & TRK1_ERROR) return 3;
  if (noted_bits & (TRK1_DETAIL | TRK1_DUMP | TRK1_FLOW)) return 7;
  return 6;
}

TraceState& State() {
  static TraceState* state = new TraceState;  // never destroyed: used at exit
  return *state;
}

int ResolveLocked(TraceState& s, const char* name) {
  auto it = s.unit_levels.find(name);
  return it != s.unit_levels.end() ? it->second : s.all_level;
}

// Level bits: decimal, or hexadecimal after "0x".
bool ParseBits(std::string_view text, int* bits) {
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
    base = 16;
  }
  long long v;
  if (!axo_internal::ParseInteger(text, 0, 0xFFFF, &v, base)) return false;
  *bits = static_cast<int>(v);
  return true;
}

void Write(TRK1_Unit* unit, int line, const char* text, bool event = false) {
  const int noted_bits = t_noted_bits;
  t_noted_bits = 0;
  struct timeval tv;
  gettimeofday(&tv, nullptr);
  struct tm tm_utc;
  time_t secs = tv.tv_sec;
  gmtime_r(&secs, &tm_utc);
  char stamp[64];
  snprintf(stamp, sizeof stamp, "%04d-%02d-%02d %02d:%02d:%02d.%03ld", tm_utc.tm_year + 1900,
           tm_utc.tm_mon + 1, tm_utc.tm_mday, tm_utc.tm_hour, tm_utc.tm_min, tm_utc.tm_sec,
           static_cast<long>(tv.tv_usec / 1000));

  size_t len = strlen(text);
  while (len > 0 && (text[len - 1] == '\n' || text[len - 1] == '\r')) --len;

  TraceState& s = State();
  std::lock_guard<std::mutex> guard(s.mu);
  if (s.out == stderr) {
    if (s.journal < 0) s.journal = StderrIsJournal() ? 1 : 0;
    if (s.journal == 1) fprintf(s.out, "<%d>", Priority({text, len}, event, noted_bits));
  }
  fprintf(s.out, "%s [%lx] %s:%d %.*s\n", stamp, static_cast<unsigned long>(pthread_self()),
          unit->name, line, static_cast<int>(len), text);
  fflush(s.out);
  for (std::vector<std::string>* records : s.captures) records->emplace_back(text, len);
}

}  // namespace

bool TRK1_NoteBits(int bits) {
  t_noted_bits = bits;
  return true;
}

TRK1_Unit::TRK1_Unit(const char* unit_name) : name(unit_name), level(0), generation(0) {}

int TRK1_Sync(TRK1_Unit* unit, int /*line*/) {
  TraceState& s = State();
  unsigned gen = s.generation.load(std::memory_order_acquire);
  if (unit->generation.load(std::memory_order_acquire) != gen) {
    std::lock_guard<std::mutex> guard(s.mu);
    gen = s.generation.load(std::memory_order_relaxed);
    unit->level.store(ResolveLocked(s, unit->name), std::memory_order_relaxed);
    unit->generation.store(gen, std::memory_order_release);
  }
  return unit->level.load(std::memory_order_relaxed);
}

void TRK1_Event(TRK1_Unit* unit, int line, const char* func, int kind, long rc) {
  char text[256];
  switch (kind) {
    case TRK1_ENTRY:
      snprintf(text, sizeof text, "Entry %s", func);
      break;
    case TRK1_EXIT_RC:
      snprintf(text, sizeof text, "Exit %s rc=%ld", func, rc);
      break;
    default:
      snprintf(text, sizeof text, "Exit %s", func);
      break;
  }
  Write(unit, line, text, true);
}

namespace {

// Writes the record that `fmt` and `ap` format, cut at 4 KiB.
void WriteFormatted(TRK1_Unit* unit, int line, const char* fmt, va_list ap) {
  char text[4096];
  vsnprintf(text, sizeof text, fmt, ap);
  Write(unit, line, text);
}

}  // namespace

void TRK1_Printf(TRK1_Unit* unit, int line, const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  WriteFormatted(unit, line, fmt, ap);
  va_end(ap);
}

void TRK1_PrintfLimited(TRK1_Unit* unit, int line, const char* fmt, ...) {
  std::string_view key = MessageId(fmt);
  if (key.empty()) key = fmt;
  const time_t now = AXO_Now();  // read before the facility's mutex is taken
  unsigned long long suppressed = 0;
  {
    TraceState& s = State();
    std::lock_guard<std::mutex> guard(s.mu);
    auto it = s.shares.find(key);
    if (it == s.shares.end()) it = s.shares.emplace(std::string(key), TraceState::Share{}).first;
    TraceState::Share& share = it->second;
    if (share.second != now) {  // a new second (or a clock set back)
      share.second = now;
      share.written = 0;
    }
    if (share.written >= TRK1_LIMITED_PER_SECOND) {
      ++share.suppressed;
      t_noted_bits = 0;  // this record's: the next record has its own
      return;
    }
    ++share.written;
    suppressed = std::exchange(share.suppressed, 0);
  }
  if (suppressed > 0) {
    const int noted_bits = t_noted_bits;  // Write takes them; they are the record's below
    char text[256];
    snprintf(text, sizeof text, "%.*s %llu more suppressed (at most %d a second)",
             static_cast<int>(std::min<size_t>(key.size(), 128)), key.data(), suppressed,
             TRK1_LIMITED_PER_SECOND);
    Write(unit, line, text);
    t_noted_bits = noted_bits;
  }
  va_list ap;
  va_start(ap, fmt);
  WriteFormatted(unit, line, fmt, ap);
  va_end(ap);
}

namespace {

// Splits a "--trace" value into its settings; false when malformed.
bool ParseSpec(const std::string& spec, std::vector<std::pair<std::string, int>>* out) {
  std::vector<std::pair<std::string, int>>& settings = *out;
  size_t pos = 0;
  while (pos <= spec.size()) {
    size_t comma = spec.find(',', pos);
    if (comma == std::string::npos) comma = spec.size();
    std::string item = spec.substr(pos, comma - pos);
    size_t eq = item.find('=');
    int bits = 0;
    if (eq == std::string::npos || eq == 0 || !ParseBits(item.substr(eq + 1), &bits)) return false;
    settings.emplace_back(item.substr(0, eq), bits);
    pos = comma + 1;
  }
  return true;
}

}  // namespace

bool TRK1_CheckSpec(const std::string& spec) {
  std::vector<std::pair<std::string, int>> settings;
  return ParseSpec(spec, &settings);
}

bool TRK1_Configure(const std::string& spec) {
  std::vector<std::pair<std::string, int>> settings;
  if (!ParseSpec(spec, &settings)) return false;
  for (const auto& [name, bits] : settings) TRK1_SetLevel(name, bits);
  return true;
}

void TRK1_SetLevel(const std::string& unit_name, int bits) {
  TraceState& s = State();
  std::lock_guard<std::mutex> guard(s.mu);
  if (unit_name == "all") {
    s.all_level = bits;
    s.unit_levels.clear();
  } else {
    s.unit_levels[unit_name] = bits;
  }
  s.generation.fetch_add(1, std::memory_order_acq_rel);
}

void TRK1_ResetLevels() {
  TraceState& s = State();
  std::lock_guard<std::mutex> guard(s.mu);
  s.all_level = TRK1_ERROR;
  s.unit_levels.clear();
  s.generation.fetch_add(1, std::memory_order_acq_rel);
}

bool TRK1_SetTraceFile(const std::string& path) {
  FILE* f = fopen(path.c_str(), "a");
  if (f == nullptr) return false;
  TraceState& s = State();
  std::lock_guard<std::mutex> guard(s.mu);
  if (s.own_out) fclose(s.out);
  s.out = f;
  s.own_out = true;
  return true;
}

TRK1_Capture::TRK1_Capture() {
  TraceState& s = State();
  std::lock_guard<std::mutex> guard(s.mu);
  s.captures.push_back(&records_);
}

TRK1_Capture::~TRK1_Capture() {
  TraceState& s = State();
  std::lock_guard<std::mutex> guard(s.mu);
  std::erase(s.captures, &records_);
}

std::vector<std::string> TRK1_Capture::messages() const {
  TraceState& s = State();
  std::lock_guard<std::mutex> guard(s.mu);
  return records_;
}

bool TRK1_Capture::contains(const std::string& text) const { return count(text) > 0; }

int TRK1_Capture::count(const std::string& text) const {
  int n = 0;
  for (const auto& m : messages())
    if (m.find(text) != std::string::npos) ++n;
  return n;
}

void TRK1_Capture::clear() {
  TraceState& s = State();
  std::lock_guard<std::mutex> guard(s.mu);
  records_.clear();
}
