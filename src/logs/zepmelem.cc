// Metric line: one parsed record line of a metric log file.
#include "logs/zepmelem.h"

#include <cstring>
#include <functional>
#include <new>
#include <vector>

#include "axo/base/trk1.h"
#include "foundation/zepstrut.h"

TRK1_UNIT(zepmelem_unit, "ZEPMELEM");

namespace {

// Copies a fixed-width column between rows of different tables.
template <size_t N, size_t M>
void copyColumn(char (&dst)[N], const char (&src)[M]) {
  static_assert(N == M, "columns of equal width");
  std::memcpy(dst, src, N);
}

// The storage of deleted lines one thread keeps for its next lines, used
// oldest first: lines read one after another then lie in the order their
// storage was freed, which is the order a limit deletes them in, so that a
// bulk deletion reads memory in sequence rather than at random. Only a
// thread that makes lines keeps storage, up to kMaxKeptBytes: a limit
// applied after a file deletes as many lines as the file brought. A thread
// that only deletes lines (a sample applying the record limit) gives the
// storage straight back.
class LineStorage {
 public:
  static constexpr size_t kBlock = sizeof(ZEPMELEM_MetricLine);
  static constexpr size_t kMaxKept = (16 << 20) / kBlock;

  LineStorage() = default;
  LineStorage(const LineStorage&) = delete;
  LineStorage& operator=(const LineStorage&) = delete;
  // Static objects that hold lines (the agent's log list) are destroyed
  // after the main thread's storage: from then on lines go straight to the
  // C library.
  ~LineStorage() {
    release();
    closed_ = true;
  }

  void* take() {
    makesLines_ = true;
    if (closed_ || count_ == 0) return ::operator new(kBlock);
    void* p = ring_[first_];
    first_ = (first_ + 1) % kMaxKept;
    --count_;
    // The storage a few lines on may have been freed long ago (a limit
    // applied in bulk): fetch it while the records between are read.
    if (count_ >= kTakeLookAhead) prefetchBlock(ring_[(first_ + kTakeLookAhead - 1) % kMaxKept]);
    return p;
  }

  void give(void* p) {
    if (closed_ || !makesLines_ || count_ == kMaxKept || !reserve()) {
      ::operator delete(p);
      return;
    }
    ring_[(first_ + count_) % kMaxKept] = p;
    ++count_;
  }

  void release() {
    if (closed_) return;
    for (; count_ > 0; --count_, first_ = (first_ + 1) % kMaxKept) ::operator delete(ring_[first_]);
    std::vector<void*>().swap(ring_);
    first_ = 0;
  }

  // Fetches a block of line storage into the cache for a write.
  static void prefetchBlock(const void* block) {
    const char* p = static_cast<const char*>(block);
    for (size_t at = 0; at < kBlock; at += 64) __builtin_prefetch(p + at, 1);
  }

 private:
  static constexpr size_t kTakeLookAhead = 4;

  // Allocates the ring on first use; false when it cannot be had.
  bool reserve() {
    if (!ring_.empty()) return true;
    try {
      ring_.resize(kMaxKept);
    } catch (const std::bad_alloc&) {
      return false;
    }
    return true;
  }

  // Set by the destructor; trivially destructible, so it outlives it.
  static thread_local bool closed_;
  std::vector<void*> ring_;  // kept storage: count_ blocks from first_ on
  size_t first_ = 0;
  size_t count_ = 0;
  bool makesLines_ = false;
};

thread_local bool LineStorage::closed_ = false;
thread_local LineStorage lineStorage;

}  // namespace

void* ZEPMELEM_MetricLine::operator new(size_t size) {
  return size == LineStorage::kBlock ? lineStorage.take() : ::operator new(size);
}

void ZEPMELEM_MetricLine::operator delete(void* storage, size_t size) {
  if (size == LineStorage::kBlock) {
    lineStorage.give(storage);
  } else {
    ::operator delete(storage);
  }
}

void ZEPMELEM_MetricLine::releaseFreeStorage() { lineStorage.release(); }

void ZEPMELEM_MetricLine::prefetch() const { LineStorage::prefetchBlock(this); }

ZEPMELEM_MetricLine::ZEPMELEM_MetricLine(int32_t readTime) : readTime(readTime) {
  std::memset(&metricsRow, ' ', sizeof(metricsRow));
}

ZEPMELEM_MetricLine::ZEPMELEM_MetricLine(int32_t readTime, const zep_zepsmt_data_t& row)
    : readTime(readTime) {
  std::memcpy(&metricsRow, &row, sizeof(metricsRow));
}

ZEPMELEM_MetricLine::~ZEPMELEM_MetricLine() { delete faultRow; }

int ZEPMELEM_MetricLine::compareKeys(const void* key) const {
  const void* self = this;
  if (self == key) return 0;
  return std::less<const void*>()(self, key) ? -1 : 1;
}

zep_zepflct_data_t* ZEPMELEM_MetricLine::allocFaultDataRow() {
  if (faultRow != nullptr) return faultRow;
  faultRow = new zep_zepflct_data_t;
  std::memset(faultRow, ' ', sizeof(*faultRow));
  copyColumn(faultRow->originnode, metricsRow.originnode);
  copyColumn(faultRow->hostname, metricsRow.hostname);
  faultRow->msgloc = metricsRow.msgloc;
  copyColumn(faultRow->msgtime, metricsRow.msgtime);
  copyColumn(faultRow->portname, metricsRow.portname);
  faultRow->appsrvenv = metricsRow.appsrvenv;
  copyColumn(faultRow->appsrvnm, metricsRow.appsrvnm);
  copyColumn(faultRow->opname, metricsRow.opname);
  copyColumn(faultRow->currcorr, metricsRow.currcorr);
  copyColumn(faultRow->tablever, metricsRow.tablever);
  TRK1_Trace(&zepmelem_unit, TRK1_DETAIL, "fault row created\n");
  return faultRow;
}

void ZEPMELEM_MetricLine::setFaultCode(const char* text, int len) {
  if (len > 0) allocFaultDataRow();
  if (faultRow == nullptr) return;
  ZEPSTRUT_stringUtil::memcpyWithPad(faultRow->fltcode, text, len > 0 ? len : 0,
                                     sizeof(faultRow->fltcode), ' ');
}

void ZEPMELEM_MetricLine::setFaultString(const char* text, int len) {
  if (len > 0) allocFaultDataRow();
  if (faultRow == nullptr) return;
  ZEPSTRUT_stringUtil::memcpyWithPad(faultRow->fltstr, text, len > 0 ? len : 0,
                                     sizeof(faultRow->fltstr), ' ');
}
