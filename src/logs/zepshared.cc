// The agent's shared data; initialised by the dispatcher.
#include "logs/zepshared.h"

#include "logs/zepdcset.h"

ZEPPROPS_properties ZEPSHARED_agentData::configProperties;
ZEPDCLST_DCMetricsLogList ZEPSHARED_agentData::metricsLogList;
OSB1_Lock ZEPSHARED_agentData::configPropertiesLock;
OSB1_Lock ZEPSHARED_agentData::metricsLogListLock;
char ZEPSHARED_agentData::configFilename[260];
char ZEPSHARED_agentData::logSubdirName[260];
time_t ZEPSHARED_agentData::dcaStartTime = 0;
ZEPDC_DataComputer* ZEPSHARED_agentData::pDataComputer = nullptr;
int ZEPSHARED_agentData::aggDataWindowSizeMinutes = ZEPDCSET_settings::DEFAULT_AGGDATA_WIN_MINUTES;
