// Record sinks: the consumers each accepted record line is handed to.
//
// The record parser (ZEPDCLOG_DCMetricsLogFile::processLine) turns an
// accepted record line into a metric line, holds it newest first, and then
// hands it to the sinks the runtime attached, one stage after the other in
// this fixed order:
//   SITUATIONS  the message-count situations (records newer than the start)
//   INVENTORY   the service inventory: finds or makes the record's entry
//               and leaves it in ZEPSINK_Record::service
//   METRICS     the per-service metric series
//   WINDOWS     the window buckets of the entry: leaves the record's bucket
//               in ZEPSINK_Record::window
// A later stage may read what an earlier one left; a stage without a sink
// is passed over (its fields stay null). The parser then applies its limits.
//
// Thread-safety: records are handed over, and sinks attached and detached,
// under metricsLogListLock only (or before any other thread of the agent
// exists). A sink's own lock, if it has one, is taken inside that lock.
#ifndef ZEP_LOGS_ZEPSINK_H_
#define ZEP_LOGS_ZEPSINK_H_

class ZEPAELEM_AggData;
class ZEPDCLOG_DCMetricsLogFile;
class ZEPIELEM_SvcInv;
class ZEPMELEM_MetricLine;

// One record on its way through the stages.
struct ZEPSINK_Record {
  ZEPDCLOG_DCMetricsLogFile& server;   // the server that read it
  ZEPMELEM_MetricLine& line;           // held by the server
  ZEPIELEM_SvcInv* service = nullptr;  // set by the INVENTORY stage
  ZEPAELEM_AggData* window = nullptr;  // set by the WINDOWS stage
};

class ZEPSINK_RecordSink {
 public:
  virtual ~ZEPSINK_RecordSink() = default;
  // Takes one record. Requires: metricsLogListLock.
  virtual void accept(ZEPSINK_Record& record) = 0;
  // `server`, which handed over records, is being destroyed: whatever the
  // sink keeps about it goes. Requires: metricsLogListLock.
  virtual void serverGone(const ZEPDCLOG_DCMetricsLogFile& /*server*/) {}
};

class ZEPSINK_sinks {
 public:
  enum Stage { SITUATIONS = 0, INVENTORY, METRICS, WINDOWS, NUM_STAGES };

  // Makes `sink` (not owned; null detaches) the consumer of `stage`.
  // Requires: metricsLogListLock, or no other thread of the agent running.
  static void attach(Stage stage, ZEPSINK_RecordSink* sink);
  static ZEPSINK_RecordSink* at(Stage stage) { return sinks_[stage]; }

  // Hands `record` to every attached sink in stage order.
  static void deliver(ZEPSINK_Record& record) {
    for (ZEPSINK_RecordSink* sink : sinks_) {
      if (sink != nullptr) sink->accept(record);
    }
  }
  // Tells every attached sink that `server` goes.
  static void serverGone(const ZEPDCLOG_DCMetricsLogFile& server);

 private:
  static ZEPSINK_RecordSink* sinks_[NUM_STAGES];
};

#endif  // ZEP_LOGS_ZEPSINK_H_
