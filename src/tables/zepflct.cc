// ZEPFLCT: the table's description and its sampling.
#include "tables/zepflct.h"

#include "foundation/zepprops.h"
#include "logs/zepdclst.h"
#include "logs/zepmelem.h"
#include "logs/zepshared.h"
#include "tables/zepsamp.h"

TRK1_UNIT(zepflct_unit, "ZEPFLCT");

ZEPTABLE_DEFINE_DESCRIPTION(zepflct, zepflct_unit, 50);
ZEPTABLE_DEFINE_INIT(zepflct);

unsigned int zep_zepflct_agent::TakeSample() {
  TRK1_FlowScope flow(&zepflct_unit, "TakeSample");
  // Every fault is offered, whatever happened to the one before.
  ZEPSAMP_sampleRun run(*this,
                        "ZEP0401E Error adding row to fault table. rc = %d, row number = %d\n",
                        /*stopAfterFailure=*/false);
  const unsigned int rc =
      ZEPSAMP_withLogs([&](ZEPPROPS_properties& props, ZEPDCLST_DCMetricsLogList& logs) {
        logs.enforceMaxRecordsLimit(props);
        run.begin();
        if (run.hasSecondName()) return;
        while (ZEPDCLOG_DCMetricsLogFile* log = run.nextRequestedLog(logs)) {
          for (ZEPMELEM_MetricLine* line = log->frontFault(); line != nullptr;
               line = log->nextFault(line)) {
            run.stampOriginNode(line->metricsRow.originnode);
            run.stampOriginNode(line->faultRow->originnode);
            run.offer(line->faultRow);
          }
        }
      });
  if (rc != 0) return flow.exitWith(rc);
  TRK1_Trace(&zepflct_unit, TRK1_DETAIL,
             "ZEP0402I Rows added to fault table. Attempted = %d, Successfully added %d, "
             "isHistory=%d\n",
             run.attempted(), run.added(), 0);
  return 0;
}
