// Sample run: bookkeeping shared by the metric-log samples.
#include "tables/zepsamp.h"

#include <cstring>

#include "foundation/zepstrut.h"
#include "logs/zepdclog.h"
#include "logs/zepdclst.h"
#include "logs/zepshared.h"

TRK1_UNIT(zepsamp_unit, "ZEPSAMP");

ZEPSAMP_sampleRun::ZEPSAMP_sampleRun(ZEPTABLE_sampler& sampler, const char* addErrorFormat,
                                     bool stopAfterFailure)
    : sampler_(sampler), addErrorFormat_(addErrorFormat), stopAfterFailure_(stopAfterFailure) {}

void ZEPSAMP_sampleRun::begin() {
  TRK1_FlowScope flow(&zepsamp_unit, "begin");
  sampler_.ResetGetSubnode();
  sampler_.ClearRows();
  attempted_ = 0;
  added_ = 0;
  failure_ = 0;
  subnodeName_[0] = '\0';
}

bool ZEPSAMP_sampleRun::hasSecondName() const {
  const char* second = sampler_.GetSecondName();
  return second != nullptr && second[0] != '\0';
}

void ZEPSAMP_sampleRun::padSubnodeName(const char* name, char* out) {
  ZEPSTRUT_stringUtil::memcpyWithPad(out, name, static_cast<unsigned>(strlen(name)),
                                     SUBNODE_NAME_LEN, ' ');
  out[SUBNODE_NAME_LEN] = '\0';
}

ZEPDCLOG_DCMetricsLogFile* ZEPSAMP_sampleRun::nextRequestedLog(
    const ZEPDCLST_DCMetricsLogList& logs) {
  for (;;) {
    const char* name = sampler_.GetSubnode();
    if (name == nullptr || name[0] == '\0') return nullptr;
    char padded[SUBNODE_NAME_LEN + 1];
    padSubnodeName(name, padded);
    ZEPDCLOG_DCMetricsLogFile* log = logs.findSubNode(padded);
    if (log != nullptr) {
      startLog(padded);
      return log;
    }
    TRK1_Trace(sampler_.description().unit, TRK1_ERROR,
               "ZEP0408E Data not found for requested for subnode: %s\n", padded);
  }
}

void ZEPSAMP_sampleRun::beginLog(const ZEPDCLOG_DCMetricsLogFile& log) {
  char padded[SUBNODE_NAME_LEN + 1];
  padSubnodeName(log.getSubnodeName(), padded);
  startLog(padded);
}

void ZEPSAMP_sampleRun::startLog(const char* name) {
  memcpy(subnodeName_, name, sizeof(subnodeName_));
  failure_ = 0;
  TRK1_Trace(sampler_.description().unit, TRK1_DETAIL, "ZEP0407I Data requested for subnode: %s\n",
             subnodeName_);
}

void ZEPSAMP_sampleRun::stampOriginNode(char* column) const {
  memcpy(column, subnodeName_, SUBNODE_NAME_LEN);
}

bool ZEPSAMP_sampleRun::offer(const void* row) {
  ++attempted_;
  if (failure_ != 0 && stopAfterFailure_) return false;
  const unsigned int status = sampler_.AddRows(row, 1);
  if (status == 0) {
    ++added_;
    return true;
  }
  failure_ = status;
  TRK1_Trace(sampler_.description().unit, TRK1_ERROR, addErrorFormat_, static_cast<int>(status),
             attempted_);
  return false;
}

unsigned int ZEPSAMP_withLogs(const std::function<void(ZEPPROPS_properties& props,
                                                       ZEPDCLST_DCMetricsLogList& logs)>& sample) {
  ZEPSHARED_agentData::LockBoth locks(OSB1_BOUNDED);
  if (!locks.held()) return static_cast<unsigned int>(AXO_RC_BUSY);
  sample(ZEPSHARED_agentData::configProperties, ZEPSHARED_agentData::metricsLogList);
  return 0;
}
