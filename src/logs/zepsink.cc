// Record sinks: the stage table the record parser hands records through.
#include "logs/zepsink.h"

ZEPSINK_RecordSink* ZEPSINK_sinks::sinks_[NUM_STAGES] = {};

void ZEPSINK_sinks::attach(Stage stage, ZEPSINK_RecordSink* sink) { sinks_[stage] = sink; }

void ZEPSINK_sinks::serverGone(const ZEPDCLOG_DCMetricsLogFile& server) {
  for (ZEPSINK_RecordSink* sink : sinks_) {
    if (sink != nullptr) sink->serverGone(server);
  }
}
