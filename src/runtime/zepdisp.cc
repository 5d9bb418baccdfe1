// The log dispatcher: owner of the agent's shared data and its two locks.
#include "runtime/zepdisp.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "axo/base/testpause.h"
#include "axo/base/trk1.h"
#include "axo/metrics/metrics.h"
#include "axo/process/liveness.h"
#include "foundation/zepdirls.h"
#include "foundation/zepport.h"
#include "foundation/zepprops.h"
#include "foundation/zeputil.h"
#include "logs/zepdclst.h"
#include "logs/zepsink.h"
#include "logs/zepsvcsink.h"
#include "runtime/zepcmd.h"
#include "situations/zepdc.h"
#include "tables/zepmatt.h"

TRK1_UNIT(zepdisp_unit, "ZEPDISP");

pthread_t ZEPDISP_dispatcher::dispatchThread;
std::atomic<int> ZEPDISP_dispatcher::fTerminate{0};

namespace {

std::atomic<bool> dispatcherInited{false};
// Set while no pass runs: at start, and again once the thread has ended.
std::atomic<bool> fDispatcherTerminated{true};

// The thread sleeps on this condition so that stop() can wake it at once.
std::mutex sleepMutex;
std::condition_variable sleepWake;
bool threadRunning = false;  // a dispatcher thread was started and not joined

// Owned; changed under metricsLogListLock (the situations stage with it).
ZEPDC_DataComputer* ownedDataComputer = nullptr;

// The name under which the dispatcher reports its passes to the framework's
// liveness registry (GET /healthz).
const char kLivenessName[] = "dispatcher";

AXO_GAUGE(lastPass, "zep_dispatcher_last_pass_timestamp_seconds",
          "When the dispatcher last completed a pass, in seconds since 1970.");
AXO_HISTOGRAM_FAMILY(passSeconds, "zep_dispatcher_pass_seconds",
                     "Duration of one dispatcher pass over the metric log directory.",
                     std::vector<std::string>{}, axo::metrics::LatencyBuckets());

// Scrape-time gauges of what the agent holds against its limits, read under
// one hold of the dispatcher's locks. When the locks stay taken past the
// scrape's wait limit the gauges keep their last values.
void collectHeld() {
  AXO_GAUGE(lines, "zep_held_metric_lines", "Metric lines held in memory.");
  AXO_GAUGE(linesLimit, "zep_held_metric_lines_limit", "Most metric lines held in memory.");
  AXO_GAUGE(buckets, "zep_held_buckets", "Service inventory buckets held in memory.");
  AXO_GAUGE(bucketsLimit, "zep_held_buckets_limit", "Most service inventory buckets held.");
  ZEPDISP_dispatcher::LockBoth locks(OSB1_BOUNDED);
  if (!locks.held()) return;
  ZEPPROPS_properties& props = ZEPDISP_dispatcher::configProperties;
  ZEPDCLST_DCMetricsLogList& list = ZEPDISP_dispatcher::metricsLogList;
  lines.Set(list.getNumMetricsRecords());
  linesLimit.Set(props.getPropertyAsInt(ZEPDCSET_settings::MAX_METRICS_RECORDS,
                                        ZEPDCSET_settings::DEFAULT_MAX_METRICS_RECORDS));
  ZEPADLST_AggDataList* oldestList;
  ZEPAELEM_AggData* oldest;
  int32_t begin;
  buckets.Set(list.getOldestAggDataBucket(&oldestList, &oldest, &begin));
  bucketsLimit.Set(props.getPropertyAsInt(ZEPDCSET_settings::MAX_SVCINV_RECORDS,
                                          ZEPDCSET_settings::DEFAULT_MAX_SVCINV_RECORDS));
}

// Initialisation shared by init and initWithoutThread.
int initialise(bool startThreads) {
  bool expected = false;
  if (!dispatcherInited.compare_exchange_strong(expected, true)) return -1;
  static std::once_flag collectorAdded;
  std::call_once(collectorAdded, [] { axo::metrics::AddCollector(collectHeld); });
  ZEPDISP_dispatcher::dcaStartTime = ZEPPORT::now();
  OSB1_InitializeLock(&ZEPDISP_dispatcher::configPropertiesLock);
  OSB1_InitializeLock(&ZEPDISP_dispatcher::metricsLogListLock);
  {
    ZEPDISP_dispatcher::LockBoth locks;
    ZEPDISP_dispatcher::attachSinks();
    ownedDataComputer = new ZEPDC_DataComputer(startThreads);
    ZEPSINK_sinks::attach(ZEPSINK_sinks::SITUATIONS, ownedDataComputer);
    zep_zepmatt_setDataComputer(ownedDataComputer);
    ZEPPROPS_properties& props = ZEPDISP_dispatcher::configProperties;
    ZEPUTIL::getConfigFileName(ZEPDISP_dispatcher::configFilename);
    char configDir[ZEPUTIL::PATH_SIZE];
    snprintf(configDir, sizeof(configDir), "%s", ZEPDISP_dispatcher::configFilename);
    if (char* slash = strrchr(configDir, '/')) *slash = '\0';
    // A fresh install directory, or the temporary one the agent falls back
    // to, has no configuration or log directory yet; every pass would fail.
    ZEPDIRLS_dirList::mkdirsIfNeeded(configDir);
    props.setPropertyFilename(ZEPDISP_dispatcher::configFilename);
    props.load();
    ZEPDCLST_DCMetricsLogList::setDefaultGlobalDCProperties(props);
    ZEPDISP_dispatcher::aggDataWindowSizeMinutes = props.getPropertyAsInt(
        ZEPDCSET_settings::AGGDATA_WIN_MINUTES, ZEPDCSET_settings::DEFAULT_AGGDATA_WIN_MINUTES);
    ZEPUTIL::getLogDirName(ZEPDISP_dispatcher::logSubdirName);
    ZEPDIRLS_dirList::mkdirsIfNeeded(ZEPDISP_dispatcher::logSubdirName);
    ZEPDISP_dispatcher::metricsLogList.setSubnodeRegistrar(&zepRegisterSubnode);
    ZEPDISP_dispatcher::metricsLogList.setDirectoryName(ZEPDISP_dispatcher::logSubdirName);
    ZEPDISP_dispatcher::metricsLogList.readCachedLogs(props);
  }
  if (!startThreads) return 0;
  ZEPDISP_dispatcher::fTerminate = 0;
  const int rc = pthread_create(&ZEPDISP_dispatcher::dispatchThread, nullptr,
                                ZEPDISP_dispatcher_dispatch, nullptr);
  if (rc != 0) {
    TRK1_Trace(&zepdisp_unit, TRK1_ERROR, "ZEP00151E Thread creation error, rc =%d\n", rc);
    return rc;
  }
  std::lock_guard<std::mutex> guard(sleepMutex);
  threadRunning = true;
  return 0;
}

// Deletes the data computer (its destructor stops its timer thread) under
// the list lock, so that no pass is counting into it meanwhile.
void deleteDataComputer() {
  OSB1_ScopedLock listLock(&ZEPDISP_dispatcher::metricsLogListLock);
  ZEPSINK_sinks::attach(ZEPSINK_sinks::SITUATIONS, nullptr);
  zep_zepmatt_setDataComputer(nullptr);
  delete ownedDataComputer;
  ownedDataComputer = nullptr;
}

}  // namespace

void ZEPDISP_dispatcher::attachSinks() {
  // Made once, on first use, and never destroyed: the metric families stay
  // registered, and the servers of the static log list, destroyed at exit
  // after any function-local static, still tell the sinks they go.
  static ZEPSVCSINK_inventory* const inventory = new ZEPSVCSINK_inventory;
  static ZEPSVCSINK_metrics* const metrics = new ZEPSVCSINK_metrics;
  static ZEPSVCSINK_windows* const windows = new ZEPSVCSINK_windows;
  ZEPSINK_sinks::attach(ZEPSINK_sinks::INVENTORY, inventory);
  ZEPSINK_sinks::attach(ZEPSINK_sinks::METRICS, metrics);
  ZEPSINK_sinks::attach(ZEPSINK_sinks::WINDOWS, windows);
}

ZEPDC_DataComputer* ZEPDISP_dispatcher::dataComputer() { return ownedDataComputer; }

int ZEPDISP_dispatcher::init(const char* /*arg*/) {
  TRK1_FlowScope flow(&zepdisp_unit, "init");
  return flow.exitWith(initialise(true));
}

int ZEPDISP_dispatcher::initWithoutThread() { return initialise(false); }

int ZEPDISP_dispatcher::runOnePass() {
  TRK1_FlowScope flow(&zepdisp_unit, "runOnePass");
  static axo::metrics::Histogram& pass = passSeconds.histogram();
  const auto start = std::chrono::steady_clock::now();
  int sleepSeconds;
  {
    LockBoth locks;
    AXO_TestStallPoint("dispatcher-pass");  // a stalled part, for tests only
    configProperties.loadIfChanged();
    ZEPDCLST_DCMetricsLogList::setDefaultGlobalDCProperties(configProperties);
    sleepSeconds = configProperties.getPropertyAsInt(ZEPDCSET_settings::SLEEP_TIME_SECONDS,
                                                     ZEPDCSET_settings::DEFAULT_SLEEP_TIME_SECONDS);
    metricsLogList.readLogs(configProperties);
    metricsLogList.purgeLogs(configProperties);
  }
  pass.Observe(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  lastPass.Set(static_cast<double>(ZEPPORT::now()));
  return flow.exitWith(sleepSeconds);
}

void ZEPDISP_dispatcher::dispatch() {
  axo::liveness::Watch(kLivenessName, ZEPDCSET_settings::DEFAULT_SLEEP_TIME_SECONDS);
  while (fTerminate.load() == 0) {
    fDispatcherTerminated = false;
    const int sleepSeconds = runOnePass();
    axo::liveness::Completed(kLivenessName, sleepSeconds);
    std::unique_lock<std::mutex> lock(sleepMutex);
    sleepWake.wait_for(lock, std::chrono::seconds(sleepSeconds),
                       [] { return fTerminate.load() != 0; });
  }
  deleteDataComputer();
  fDispatcherTerminated = true;
}

void ZEPDISP_dispatcher::waitForDispatcherTermination() {
  while (!fDispatcherTerminated.load()) ZEPPORT::sleepForSeconds(1);
}

void ZEPDISP_dispatcher::stop() {
  {
    std::lock_guard<std::mutex> guard(sleepMutex);
    if (!threadRunning) return;
    fTerminate = 1;
  }
  sleepWake.notify_all();
  pthread_join(dispatchThread, nullptr);
  axo::liveness::Forget(kLivenessName);
  std::lock_guard<std::mutex> guard(sleepMutex);
  threadRunning = false;
}

void ZEPDISP_dispatcher::resetForTesting() {
  stop();
  deleteDataComputer();
  attachSinks();
  {
    LockBoth locks;
    configProperties.clear();
    configProperties.setPropertyFilename("");
    metricsLogList.clear();
    metricsLogList.setDirectoryName("");
  }
  std::memset(configFilename, 0, sizeof(configFilename));
  std::memset(logSubdirName, 0, sizeof(logSubdirName));
  dcaStartTime = 0;
  aggDataWindowSizeMinutes = ZEPDCSET_settings::DEFAULT_AGGDATA_WIN_MINUTES;
  fTerminate = 0;
  fDispatcherTerminated = true;
  dispatcherInited = false;
}

extern "C" void* ZEPDISP_dispatcher_dispatch(void*) {
  ZEPDISP_dispatcher::dispatch();
  return nullptr;
}
