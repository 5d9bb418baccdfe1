// The service sinks: the record stages that feed what a server holds per
// service operation (its inventory entry and window buckets) and the
// per-service metric series. The runtime makes one of each and attaches
// them (logs/zepsink.h); they keep no state of their own but the metric
// families.
//
// Thread-safety: as every sink, used under metricsLogListLock only.
#ifndef ZEP_LOGS_ZEPSVCSINK_H_
#define ZEP_LOGS_ZEPSVCSINK_H_

#include "axo/metrics/metrics.h"
#include "logs/zepsink.h"

// INVENTORY: finds or makes the record's entry in the server's service
// inventory (record.service).
class ZEPSVCSINK_inventory : public ZEPSINK_RecordSink {
 public:
  void accept(ZEPSINK_Record& record) override;
};

// WINDOWS: counts the record into its window bucket of the inventory entry
// (record.window); nothing without an entry.
class ZEPSVCSINK_windows : public ZEPSINK_RecordSink {
 public:
  void accept(ZEPSINK_Record& record) override;
};

// METRICS: the bounded per-service families zep_messages_total,
// zep_faults_total, zep_elapsed_seconds and zep_message_length_bytes,
// labelled subnode, port, operation (and msgloc on the counters). The
// series of message locations 0..3 are cached on the inventory entry.
class ZEPSVCSINK_metrics : public ZEPSINK_RecordSink {
 public:
  // Defines the four families (the registry keeps them; defining them again
  // finds the same ones) and makes metricsLogListLock the lock every update,
  // expiry and removal of a bounded family holds. Make it before the
  // framework's options are parsed: --metrics-labels names their labels.
  ZEPSVCSINK_metrics();
  ZEPSVCSINK_metrics(const ZEPSVCSINK_metrics&) = delete;
  ZEPSVCSINK_metrics& operator=(const ZEPSVCSINK_metrics&) = delete;

  void accept(ZEPSINK_Record& record) override;
  // The server's series leave with it.
  void serverGone(const ZEPDCLOG_DCMetricsLogFile& server) override;

 private:
  axo::metrics::Family& messages_;
  axo::metrics::Family& faults_;
  axo::metrics::Family& elapsed_;
  axo::metrics::Family& length_;
};

#endif  // ZEP_LOGS_ZEPSVCSINK_H_
