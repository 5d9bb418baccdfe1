// Sample run: the steps that the samples of the metrics, fault and service
// inventory tables share.
//
// Those samples read the metric log list: they walk the subnodes a request
// names (or every server, for history), find each server's log, write the
// server's 32-character subnode name into the rows, and hand the rows to the
// request one at a time, counting what they attempted and what was added.
// ZEPSAMP_sampleRun keeps that bookkeeping for one TakeSample call and writes
// the shared messages through the table's own trace unit:
//   ZEP0408E  a requested subnode without a metric log (error level);
//   ZEP0407I  a subnode whose rows are being read (detail level);
//   the table's "Error adding row" message for a rejected row (error level).
//
// A row rejected by the request (AddData not 0) is remembered as the current
// log's failure; with `stopAfterFailure` the later rows of that log are still
// counted as attempted but no longer offered. A row that the request's
// filter drops counts as added: AddData returns 0 for it.
//
// Thread-safety: one run belongs to one TakeSample call on one thread. The
// caller holds metricsLogListLock while it reads logs and writes rows.
#ifndef ZEP_TABLES_ZEPSAMP_H_
#define ZEP_TABLES_ZEPSAMP_H_

#include <functional>

#include "tables/zeptable.h"

class ZEPDCLST_DCMetricsLogList;
class ZEPDCLOG_DCMetricsLogFile;
class ZEPPROPS_properties;

// The opening every sample of the metric log list shares: takes
// configPropertiesLock then metricsLogListLock, each within the calling
// thread's wait limit, and calls `sample` with the configuration and the
// list while holding both. Returns AXO_RC_BUSY, without calling `sample`,
// when a lock could not be taken in time; otherwise 0.
unsigned int ZEPSAMP_withLogs(
    const std::function<void(ZEPPROPS_properties& props, ZEPDCLST_DCMetricsLogList& logs)>& sample);

class ZEPSAMP_sampleRun {
 public:
  static constexpr int SUBNODE_NAME_LEN = 32;

  // A run of `sampler`. `addErrorFormat` is the table's message for a
  // rejected row, with the two conversions "rc = %d" (AddData's status) and
  // "row number = %d" (the attempted count); it must outlive the run.
  ZEPSAMP_sampleRun(ZEPTABLE_sampler& sampler, const char* addErrorFormat, bool stopAfterFailure);

  ZEPSAMP_sampleRun(const ZEPSAMP_sampleRun&) = delete;
  ZEPSAMP_sampleRun& operator=(const ZEPSAMP_sampleRun&) = delete;

  // Starts a sample: rewinds the request's subnode list and empties the
  // sampler's row buffer.
  void begin();

  // True when the request's second name field is set; such a request gets
  // no rows from a subnode walk.
  bool hasSecondName() const;

  // The log of the next subnode the request names: the name, cut or
  // blank-padded to 32 characters, is looked up in `logs`; a name without a
  // log is reported (ZEP0408E) and skipped. Returns null after the last name
  // (the list ends at a null or empty name). For the log returned, ZEP0407I
  // is written and the log's failure cleared; subnodeName() is its name.
  ZEPDCLOG_DCMetricsLogFile* nextRequestedLog(const ZEPDCLST_DCMetricsLogList& logs);

  // Starts a log reached by walking the whole list (history): takes its
  // subnode name, writes ZEP0407I and clears the failure.
  void beginLog(const ZEPDCLOG_DCMetricsLogFile& log);

  // Writes the current subnode name into a 32-byte ORIGINNODE column.
  void stampOriginNode(char* column) const;

  // Counts one row as attempted and offers it (`row` is one row record of
  // the sampler's table) unless the current log already failed and the run
  // stops after a failure. Returns true when the row was added.
  bool offer(const void* row);

  // The current subnode name: 32 characters, terminated.
  const char* subnodeName() const { return subnodeName_; }
  int attempted() const { return attempted_; }
  int added() const { return added_; }

  // Writes `name` cut or blank-padded to 32 characters into `out`
  // (SUBNODE_NAME_LEN + 1 bytes), terminated.
  static void padSubnodeName(const char* name, char* out);

 private:
  // Makes `name` the current subnode, writes ZEP0407I, clears the failure.
  void startLog(const char* name);

  ZEPTABLE_sampler& sampler_;
  const char* addErrorFormat_;
  bool stopAfterFailure_;
  int attempted_ = 0;
  int added_ = 0;
  unsigned int failure_ = 0;
  char subnodeName_[SUBNODE_NAME_LEN + 1] = {};
};

#endif  // ZEP_TABLES_ZEPSAMP_H_
