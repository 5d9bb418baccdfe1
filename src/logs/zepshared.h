// The agent's shared data: the configuration properties and the metric log
// list, the two locks that guard them, and the few values every layer reads.
//
// The dispatcher (runtime/zepdisp.h) owns and initialises this data and
// names it as its own static members (ZEPDISP_dispatcher derives from this
// class); the modules below the runtime reach it here, so that no module
// includes a layer above its own.
//
// Lock order: configPropertiesLock first, metricsLogListLock second. Nobody
// takes configPropertiesLock while holding metricsLogListLock alone. The record
// sinks' own locks (the data computer's) are taken inside metricsLogListLock,
// never the other way.
#ifndef ZEP_LOGS_ZEPSHARED_H_
#define ZEP_LOGS_ZEPSHARED_H_

#include <ctime>
#include <optional>

#include "axo/base/osb1.h"
#include "foundation/zepprops.h"
#include "logs/zepdclst.h"

class ZEPSHARED_agentData {
 public:
  // The data-collector configuration; guarded by configPropertiesLock.
  static ZEPPROPS_properties configProperties;
  // Every monitored server and what hangs off it; guarded by metricsLogListLock.
  static ZEPDCLST_DCMetricsLogList metricsLogList;
  static OSB1_Lock configPropertiesLock;
  static OSB1_Lock metricsLogListLock;
  static char configFilename[260];
  static char logSubdirName[260];
  // When the dispatcher was initialised; 0 before.
  static time_t dcaStartTime;
  // The aggregation window length fixed at start, in minutes.
  static int aggDataWindowSizeMinutes;

  // Holds configPropertiesLock, then metricsLogListLock, for its lifetime:
  // the pair every holder of both takes, in the one order.
  //
  //   ZEPSHARED_agentData::LockBoth locks(OSB1_BOUNDED);
  //   if (!locks.held()) return AXO_RC_BUSY;  // nothing touched
  //
  // Constructed with OSB1_BOUNDED it waits at most the calling thread's wait
  // limit (OSB1_WaitLimit) for both locks together and then holds neither;
  // without, or on a thread without a limit, it waits as long as it takes.
  class LockBoth {
   public:
    LockBoth();
    explicit LockBoth(OSB1_Bounded);
    LockBoth(const LockBoth&) = delete;
    LockBoth& operator=(const LockBoth&) = delete;

    // True when both locks are held (always, unless OSB1_BOUNDED).
    bool held() const { return list_.has_value(); }

   private:
    std::optional<OSB1_ScopedLock> config_;  // destroyed after list_
    std::optional<OSB1_ScopedLock> list_;
  };
};

#endif  // ZEP_LOGS_ZEPSHARED_H_
