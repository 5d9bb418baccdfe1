// Metric line: one parsed record line of a metric log file.
//
// A record line of a data collector becomes one ZEPMELEM_MetricLine, which
// holds the ready ZEPSMT row of the record (handed to the framework without
// conversion), the message time as the sort key, the time the agent read it
// (the retention clock), and a ZEPFLCT row only when the record carries a
// fault code or a fault string.
//
// One line is made and the oldest one deleted per record read at the
// record limit. A line is about a kilobyte, which the C library's allocator
// serves from its general bins: the thread that makes lines (the
// dispatcher's) keeps the storage of the lines it deletes, bounded, and
// gives it to its next lines. The oldest line was written long ago and has
// left the processor's caches; prefetch() fetches the storage of a line due
// for deletion before the new line is written into it.
//
// Ownership: the line owns its fault row. The server object's list of metric
// lines owns the lines.
//
// Thread-safety: none of its own; used under metricsLogListLock. The kept
// storage belongs to the thread that deleted the lines.
#ifndef ZEP_LOGS_ZEPMELEM_H_
#define ZEP_LOGS_ZEPMELEM_H_

#include <cstddef>
#include <cstdint>

#include "foundation/zeplelem.h"
#include "foundation/zeprows.h"

class ZEPMELEM_MetricLine : public ZEPLELEM_listElem {
 public:
  // A line read at `readTime` (seconds since the epoch): every column of the
  // metrics row blank, no fault row, message time 0, not added to history.
  explicit ZEPMELEM_MetricLine(int32_t readTime);
  // A line read at `readTime` whose metrics row starts as a copy of `row`;
  // otherwise as above. Spares the blank fill when the caller has the row.
  ZEPMELEM_MetricLine(int32_t readTime, const zep_zepsmt_data_t& row);
  // Deletes the fault row.
  ~ZEPMELEM_MetricLine() override;

  ZEPMELEM_MetricLine(const ZEPMELEM_MetricLine&) = delete;
  ZEPMELEM_MetricLine& operator=(const ZEPMELEM_MetricLine&) = delete;

  // Lines come from the storage the calling thread keeps (see above), or
  // from the C library's allocator.
  static void* operator new(size_t size);
  static void operator delete(void* storage, size_t size);
  // Gives the calling thread's kept storage back to the C library.
  static void releaseFreeStorage();
  // Asks the processor to fetch the line's storage into its cache for a
  // write: the line is about to be deleted and its storage reused.
  void prefetch() const;

  // The key of a metric line is the line itself; compareKeys gives 0 for the
  // same line and otherwise orders by address, so that find() locates a given
  // line.
  const void* getElemKey() const override { return this; }
  int compareKeys(const void* key) const override;

  // Returns the fault row, creating it on first use: every column blank, then
  // ORIGINNODE, HOSTNAME, MSGLOC, MSGTIME, PORTNAME, APPSRVENV, APPSRVNM,
  // OPNAME, CURRCORR and TABLEVER copied from the metrics row. Owned by the
  // line.
  zep_zepflct_data_t* allocFaultDataRow();

  // Each creates the fault row when `len` is positive and, when a fault row
  // exists, stores `text` (of `len` characters) blank-padded in FLTCODE (128)
  // or FLTSTR (256).
  void setFaultCode(const char* text, int len);
  void setFaultString(const char* text, int len);

  bool hasFault() const { return faultRow != nullptr; }

  // True when this line's message time is later than `other`'s.
  bool isNewerThan(const ZEPMELEM_MetricLine& other) const {
    return timeSeconds != other.timeSeconds ? timeSeconds > other.timeSeconds
                                            : timeMillis > other.timeMillis;
  }

  // The record's fields, as the samplers read them. The small ones come
  // first, in the cache line of the list links: sorting, the record limit
  // and the retention sweep touch only that line of a line long read.
  int32_t readTime;                        // when the agent read the record
  int32_t timeSeconds = 0;                 // message time: seconds ...
  int32_t timeMillis = 0;                  // ... and milliseconds; the sort key
  uint8_t addedToHistory = 0;              // 1 once handed to history
  uint8_t recentSlot = 0;                  // the server's use (see laterLine)
  zep_zepflct_data_t* faultRow = nullptr;  // owned; null without a fault
  // A line of the same server read some lines after this one, or null: a
  // bulk deletion fetches it while it deletes this one, without walking the
  // links. A hint only: it may be a line since deleted, and is never read
  // through, only fetched.
  ZEPMELEM_MetricLine* laterLine = nullptr;
  zep_zepsmt_data_t metricsRow;  // the ready ZEPSMT row
};

#endif  // ZEP_LOGS_ZEPMELEM_H_
