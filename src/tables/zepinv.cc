// ZEPINV: the table's description and its sampling.
#include "tables/zepinv.h"

#include "foundation/zepport.h"
#include "foundation/zepprops.h"
#include "foundation/zepstrut.h"
#include "logs/zepadlst.h"
#include "logs/zepaelem.h"
#include "logs/zepdclst.h"
#include "logs/zepdcset.h"
#include "logs/zepielem.h"
#include "logs/zepshared.h"
#include "tables/zepsamp.h"

TRK1_UNIT(zepinv_unit, "ZEPINV");

ZEPTABLE_DEFINE_DESCRIPTION(zepinv, zepinv_unit, 50);
ZEPTABLE_DEFINE_INIT(zepinv);

namespace {

constexpr const char* kAddErrorFormat =
    "ZEP0405E Error adding row to service inventory table. rc = %d, row number = %d\n";

// A history request reports a window only once it ended at least this long
// ago, so that late records of the window are still counted.
constexpr time_t kHistoryDelaySeconds = 60;

void traceSummary(const ZEPSAMP_sampleRun& run) {
  TRK1_Trace(&zepinv_unit, TRK1_DETAIL,
             "ZEP0406I Rows added to service inventory table. Attempted = %d, "
             "Successfully added %d\n",
             run.attempted(), run.added());
}

}  // namespace

unsigned int zep_zepinv_agent::TakeSample() {
  TRK1_FlowScope flow(&zepinv_unit, "TakeSample");
  const bool history = IsHistoryRequest() != 0;
  return flow.exitWith(
      ZEPSAMP_withLogs([&](ZEPPROPS_properties& props, ZEPDCLST_DCMetricsLogList& logs) {
        const long window = ZEPSHARED_agentData::aggDataWindowSizeMinutes;
        const int retention =
            props.getPropertyAsInt(ZEPDCSET_settings::MAX_SVCINV_RETAIN_MINUTES,
                                   ZEPDCSET_settings::DEFAULT_MAX_SVCINV_RETAIN_MINUTES);
        const int limit = props.getPropertyAsInt(ZEPDCSET_settings::MAX_SVCINV_RECORDS,
                                                 ZEPDCSET_settings::DEFAULT_MAX_SVCINV_RECORDS);
        const int debug = props.getPropertyAsInt(ZEPDCSET_settings::DEBUG_HISTORY,
                                                 ZEPDCSET_settings::DEFAULT_DEBUG_HISTORY);
        if (!history && debug != 1) {
          time_t runningBegin;
          ZEPSTRUT_stringUtil::latestCompleteTimeWindowEnd(&runningBegin, window);
          time_t completeBegin;
          ZEPSTRUT_stringUtil::previousTimeWindow(&runningBegin, &completeBegin, window);
          // Until the agent has seen a whole window there is no complete one to
          // show: its buckets would hold only part of the window's messages.
          if (completeBegin <= ZEPSHARED_agentData::dcaStartTime) completeBegin = 0;
          TakeSampleRealTime(logs, completeBegin, runningBegin, limit);
        } else {
          TakeSampleHistorical(logs, retention, limit);
        }
      }));
}

bool zep_zepinv_agent::offerBucket(ZEPSAMP_sampleRun& run, const ZEPIELEM_SvcInv& entry,
                                   const ZEPAELEM_AggData* bucket, int16_t status) {
  if (bucket == nullptr) return false;
  zep_zepinv_data_t row = entry.row;
  bucket->calcAggData(&row);
  row.intstatus = status;
  run.stampOriginNode(row.originnode);
  return run.offer(&row);
}

int zep_zepinv_agent::TakeSampleRealTime(ZEPDCLST_DCMetricsLogList& logs, time_t completeBegin,
                                         time_t runningBegin, int limit) {
  TRK1_FlowScope flow(&zepinv_unit, "TakeSampleRealTime");
  ZEPSAMP_sampleRun run(*this, kAddErrorFormat, /*stopAfterFailure=*/true);
  run.begin();
  if (!run.hasSecondName()) {
    while (run.attempted() < limit) {
      ZEPDCLOG_DCMetricsLogFile* log = run.nextRequestedLog(logs);
      if (log == nullptr) break;
      ZEPNVLST_SvcInventoryList& inventory = log->svcInventory();
      for (ZEPIELEM_SvcInv* entry = inventory.front(); entry != nullptr && run.attempted() < limit;
           entry = inventory.next(entry)) {
        ZEPADLST_AggDataList& buckets = entry->aggDataList();
        if (completeBegin != 0) {
          offerBucket(run, *entry, buckets.findIntervalForSample(completeBegin),
                      ZEPINV_INTERVAL_COMPLETE);
        }
        if (runningBegin != 0 && run.attempted() < limit) {
          offerBucket(run, *entry, buckets.findIntervalForSample(runningBegin),
                      ZEPINV_INTERVAL_RUNNING);
        }
      }
    }
  }
  traceSummary(run);
  return 0;
}

int zep_zepinv_agent::TakeSampleHistorical(ZEPDCLST_DCMetricsLogList& logs, int retentionMinutes,
                                           int limit) {
  TRK1_FlowScope flow(&zepinv_unit, "TakeSampleHistorical");
  const long window = ZEPSHARED_agentData::aggDataWindowSizeMinutes;
  // The latest window that ended at least kHistoryDelaySeconds ago.
  time_t limitTime = ZEPPORT::now() - kHistoryDelaySeconds;
  ZEPSTRUT_stringUtil::roundTimeDown(&limitTime, window);
  ZEPSTRUT_stringUtil::previousTimeWindow(&limitTime, &limitTime, window);

  ZEPSAMP_sampleRun run(*this, kAddErrorFormat, /*stopAfterFailure=*/true);
  run.begin();
  if (retentionMinutes > 0) {
    for (ZEPDCLOG_DCMetricsLogFile* log = logs.front(); log != nullptr; log = logs.next(log)) {
      run.beginLog(*log);
      ZEPNVLST_SvcInventoryList& inventory = log->svcInventory();
      for (ZEPIELEM_SvcInv* entry = inventory.front(); entry != nullptr && run.attempted() < limit;
           entry = inventory.next(entry)) {
        ZEPADLST_AggDataList& buckets = entry->aggDataList();
        for (ZEPAELEM_AggData* bucket = buckets.findFirstIntervalForHistory(limitTime);
             bucket != nullptr && run.attempted() < limit;
             bucket = buckets.findNextIntervalForHistory(bucket->begin, limitTime)) {
          // A window whose row was not added stays unmarked and comes again
          // with the next history request.
          if (offerBucket(run, *entry, bucket, ZEPINV_INTERVAL_COMPLETE)) {
            buckets.markStoredInHistory(bucket);
          }
        }
      }
    }
  }
  traceSummary(run);
  return 0;
}
