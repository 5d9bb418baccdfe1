// Fuzz target: a metric log file as a data collector could write it, read
// through the agent's own path (header for the subnode name, then every
// line through processLine into the log object, its service inventory and
// the limits); a file whose server is refused is read the same way.
//
// Holds after every input: no crash or sanitizer report; the record limit
// and the bucket limit are kept; the subnode name fits its 32 characters;
// the fault list is a part of the metric lines; a purge that keeps nothing
// empties the log.
#include <cstdint>
#include <cstring>
#include <string>

#include "foundation/zepport.h"
#include "fuzz_support.h"
#include "logs/zepdclog.h"
#include "runtime/zepdisp.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  constexpr int kMaxMetrics = 64, kMaxBuckets = 16;
  static const bool attached = (ZEPDISP_dispatcher::attachSinks(), true);
  (void)attached;
  const std::string path = zepfuzz::logDir() + "/ZEP.fuzz.metric.log";
  zepfuzz::writeFile(path, data, size);
  ZEPDCLOG_DCMetricsLogFile log(zepfuzz::logDir().c_str(), "ZEP.fuzz.metric.log");
  ZEP_FILE file;
  static char line[ZEPDCLOG_DCMetricsLogFile::LINE_SIZE];
  if (log.readLogForSubnodeName(path.c_str(), &file, line) != 0) {
    ZEPFUZZ_CHECK(file.fp == nullptr && ZEPPORT::zep_open(path.c_str(), "r", &file, 0600) == 0);
  }
  log.readCachedLog(path.c_str(), kMaxMetrics, kMaxBuckets, &file, line);
  ZEPFUZZ_CHECK(file.fp == nullptr);
  ZEPFUZZ_CHECK(strlen(log.getSubnodeName()) <= ZEPDCLOG_DCMetricsLogFile::SUBNODE_NAME_LEN);
  ZEPFUZZ_CHECK(log.getNumMetrics() <= kMaxMetrics);
  ZEPFUZZ_CHECK(log.svcInventory().getNumAggDataBuckets() <= kMaxBuckets);
  int lines = 0, faults = 0;
  for (ZEPMELEM_MetricLine* l = log.front(); l != nullptr; l = log.next(l)) ++lines;
  for (ZEPMELEM_MetricLine* l = log.frontFault(); l != nullptr; l = log.nextFault(l)) ++faults;
  ZEPFUZZ_CHECK(lines == log.getNumMetrics() && faults == log.getNumFaults() && faults <= lines);
  // Every line was read at the fixed clock's time, so a purge that keeps
  // nothing read before now removes them all.
  log.purge(0, -1);
  ZEPFUZZ_CHECK(log.getNumMetrics() == 0 && log.getNumFaults() == 0);
  log.enforceSvcInvLimits(0);
  ZEPFUZZ_CHECK(log.svcInventory().getNumAggDataBuckets() == 0);
  return 0;
}
