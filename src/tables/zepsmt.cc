// ZEPSMT: the table's description and its sampling.
#include "tables/zepsmt.h"

#include "foundation/zepport.h"
#include "foundation/zepprops.h"
#include "logs/zepdclst.h"
#include "logs/zepdcset.h"
#include "logs/zepmelem.h"
#include "logs/zepshared.h"
#include "tables/zepsamp.h"

TRK1_UNIT(zepsmt_unit, "ZEPSMT");

ZEPTABLE_DEFINE_DESCRIPTION(zepsmt, zepsmt_unit, 500);
ZEPTABLE_DEFINE_INIT(zepsmt);

namespace {

constexpr const char* kAddErrorFormat =
    "ZEP0403E Error adding row to metric table. rc = %d, row number = %d\n";
constexpr const char* kSummaryFormat =
    "ZEP0404I Rows added to metric table. Attempted = %d, Successfully added %d, "
    "isHistory=%d\n";

void traceSummary(const ZEPSAMP_sampleRun& run, int isHistory) {
  TRK1_Trace(&zepsmt_unit, TRK1_DETAIL, kSummaryFormat, run.attempted(), run.added(), isHistory);
}

// Writes the run's subnode name into the line's rows: the metrics row and,
// when the line carries a fault, its fault row.
void stampLine(const ZEPSAMP_sampleRun& run, ZEPMELEM_MetricLine* line) {
  run.stampOriginNode(line->metricsRow.originnode);
  if (line->faultRow != nullptr) run.stampOriginNode(line->faultRow->originnode);
}

}  // namespace

unsigned int zep_zepsmt_agent::TakeSample() {
  TRK1_FlowScope flow(&zepsmt_unit, "TakeSample");
  const bool history = IsHistoryRequest() != 0;
  return flow.exitWith(
      ZEPSAMP_withLogs([&](ZEPPROPS_properties& props, ZEPDCLST_DCMetricsLogList& logs) {
        logs.enforceMaxRecordsLimit(props);
        if (history) {
          TakeSampleHistorical(props, logs);
        } else {
          TakeSampleRealTime(props, logs);
        }
      }));
}

double zep_zepsmt_agent::getTimePeriod(ZEPPROPS_properties& props) {
  props.loadIfChanged();
  ZEPDCLST_DCMetricsLogList::setDefaultGlobalDCProperties(props);
  const int minutes =
      props.getPropertyAsInt(ZEPDCSET_settings::MAX_REALTIME_SAMPLE_MINUTES,
                             ZEPDCSET_settings::DEFAULT_MAX_REALTIME_SAMPLE_MINUTES);
  return minutes * 60.0;
}

void zep_zepsmt_agent::TakeSampleRealTime(ZEPPROPS_properties& props,
                                          ZEPDCLST_DCMetricsLogList& logs) {
  TRK1_FlowScope flow(&zepsmt_unit, "TakeSampleRealTime");
  const time_t now = ZEPPORT::now();
  const double period = getTimePeriod(props);
  ZEPSAMP_sampleRun run(*this, kAddErrorFormat, /*stopAfterFailure=*/true);
  run.begin();
  if (!run.hasSecondName()) {
    while (ZEPDCLOG_DCMetricsLogFile* log = run.nextRequestedLog(logs)) {
      // Lines are ordered newest first: the first line older than the
      // look-back ends the walk of this log.
      for (ZEPMELEM_MetricLine* line = log->front(); line != nullptr; line = log->next(line)) {
        stampLine(run, line);
        if (static_cast<double>(now - line->timeSeconds) > period) break;
        run.offer(&line->metricsRow);
      }
    }
  }
  traceSummary(run, 0);
}

void zep_zepsmt_agent::TakeSampleHistorical(ZEPPROPS_properties& props,
                                            ZEPDCLST_DCMetricsLogList& logs) {
  TRK1_FlowScope flow(&zepsmt_unit, "TakeSampleHistorical");
  const int retainMinutes = props.getPropertyAsInt(ZEPDCSET_settings::MAX_RETAIN_MINUTES,
                                                   ZEPDCSET_settings::DEFAULT_MAX_RETAIN_MINUTES);
  ZEPSAMP_sampleRun run(*this, kAddErrorFormat, /*stopAfterFailure=*/true);
  run.begin();
  if (retainMinutes > 0) {
    for (ZEPDCLOG_DCMetricsLogFile* log = logs.front(); log != nullptr; log = logs.next(log)) {
      run.beginLog(*log);
      ZEPMELEM_MetricLine* line = log->frontUnstoredMetric();
      while (line != nullptr) {
        stampLine(run, line);
        // A line whose row was not added (and every later line of this log)
        // stays unmarked and is offered again by the next history sample.
        const bool added = run.offer(&line->metricsRow);
        ZEPMELEM_MetricLine* next = log->nextUnstoredMetric(line);
        if (added) log->setMetricAddedToHistory(line);
        line = next;
      }
    }
  }
  traceSummary(run, 1);
}
