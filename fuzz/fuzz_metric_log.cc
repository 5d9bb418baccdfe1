// Fuzz target: a metric log file as a data collector could write it, read
// through the agent's own path (header for the subnode name, then every
// record into the log object, its service inventory and the limits).
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
#include "logs/zepmelem.h"

namespace {
constexpr int kMaxMetrics = 64;
constexpr int kMaxBuckets = 16;
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = zepfuzz::logDir() + "/ZEP.fuzz.metric.log";
  zepfuzz::writeFile(path, data, size);

  ZEPDCLOG_DCMetricsLogFile log(zepfuzz::logDir().c_str(), "ZEP.fuzz.metric.log");
  ZEP_FILE file;  // readLogForSubnodeName opens it
  static char line[ZEPDCLOG_DCMetricsLogFile::LINE_SIZE];
  line[0] = '\0';
  if (log.readLogForSubnodeName(path.c_str(), &file, line) == 0) {
    ZEPFUZZ_CHECK(strlen(log.getSubnodeName()) <= ZEPDCLOG_DCMetricsLogFile::SUBNODE_NAME_LEN);
    log.readCachedLog(path.c_str(), kMaxMetrics, kMaxBuckets, &file, line);
  } else {
    // Not an accepted server: its lines still go through the line handler.
    ZEPFUZZ_CHECK(file.fp == nullptr);
    ZEPFUZZ_CHECK(ZEPPORT::zep_open(path.c_str(), "r", &file, 0600) == 0);
    while (ZEPPORT::getline(&file, line, sizeof(line)) != nullptr) {
      log.processLine(path.c_str(), line, static_cast<int32_t>(zepfuzz::kNow), kMaxMetrics,
                      kMaxBuckets, nullptr);
    }
    ZEPPORT::zep_close(&file);
  }

  ZEPFUZZ_CHECK(log.getNumMetrics() <= kMaxMetrics);
  ZEPFUZZ_CHECK(log.svcInventory().getNumAggDataBuckets() <= kMaxBuckets);
  int lines = 0;
  for (ZEPMELEM_MetricLine* l = log.front(); l != nullptr; l = log.next(l)) ++lines;
  ZEPFUZZ_CHECK(lines == log.getNumMetrics());
  int faults = 0;
  for (ZEPMELEM_MetricLine* l = log.frontFault(); l != nullptr; l = log.nextFault(l)) ++faults;
  ZEPFUZZ_CHECK(faults == log.getNumFaults());
  ZEPFUZZ_CHECK(faults <= lines);

  // Every line was read at the fixed clock's time, so a purge that keeps
  // nothing read before now removes them all.
  log.purge(0, -1);
  ZEPFUZZ_CHECK(log.getNumMetrics() == 0);
  ZEPFUZZ_CHECK(log.getNumFaults() == 0);
  log.enforceSvcInvLimits(0);
  ZEPFUZZ_CHECK(log.svcInventory().getNumAggDataBuckets() == 0);
  return 0;
}
