// The agent's shared data; initialised by the dispatcher.
#include "logs/zepshared.h"

#include <algorithm>
#include <chrono>

#include "logs/zepdcset.h"

ZEPPROPS_properties ZEPSHARED_agentData::configProperties;
ZEPDCLST_DCMetricsLogList ZEPSHARED_agentData::metricsLogList;
OSB1_Lock ZEPSHARED_agentData::configPropertiesLock;
OSB1_Lock ZEPSHARED_agentData::metricsLogListLock;
char ZEPSHARED_agentData::configFilename[260];
char ZEPSHARED_agentData::logSubdirName[260];
time_t ZEPSHARED_agentData::dcaStartTime = 0;
int ZEPSHARED_agentData::aggDataWindowSizeMinutes = ZEPDCSET_settings::DEFAULT_AGGDATA_WIN_MINUTES;

ZEPSHARED_agentData::LockBoth::LockBoth() {
  config_.emplace(&configPropertiesLock);
  list_.emplace(&metricsLogListLock);
}

ZEPSHARED_agentData::LockBoth::LockBoth(OSB1_Bounded) {
  const auto start = std::chrono::steady_clock::now();
  config_.emplace(&configPropertiesLock, OSB1_BOUNDED);
  if (!config_->held()) {
    config_.reset();
    return;
  }
  // The second lock waits for what is left of the limit.
  const int limit = OSB1_WaitLimit::current();
  const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(
                         std::chrono::steady_clock::now() - start)
                         .count();
  OSB1_WaitLimit rest(limit > 0 ? std::max<int>(1, limit - static_cast<int>(spent)) : 0);
  list_.emplace(&metricsLogListLock, OSB1_BOUNDED);
  if (!list_->held()) {
    list_.reset();
    config_.reset();
  }
}
