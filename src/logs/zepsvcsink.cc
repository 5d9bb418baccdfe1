// The service sinks: inventory entry, window bucket and per-service series
// of each record.
#include "logs/zepsvcsink.h"

#include <cstring>
#include <string>
#include <vector>

#include "logs/zepdclog.h"
#include "logs/zepshared.h"

namespace {

// A fixed-width text column without its trailing blanks and NULs.
std::string Trimmed(const char* field, size_t size) {
  size_t n = strnlen(field, size);
  while (n > 0 && field[n - 1] == ' ') --n;
  return std::string(field, n);
}

axo::metrics::Family& DefineService(axo::metrics::Kind kind, const char* name, const char* help,
                                    bool withLocation, std::vector<double> bounds = {}) {
  std::vector<std::string> labels{"subnode", "port", "operation"};
  if (withLocation) labels.push_back("msgloc");
  return axo::metrics::DefineBounded(kind, name, help, std::move(labels), std::move(bounds));
}

}  // namespace

void ZEPSVCSINK_inventory::accept(ZEPSINK_Record& record) {
  record.service = record.server.svcInventory().add(record.line);
}

void ZEPSVCSINK_windows::accept(ZEPSINK_Record& record) {
  if (record.service != nullptr) record.window = record.service->aggDataList().add(record.line);
}

// The histograms never carry the message location.
ZEPSVCSINK_metrics::ZEPSVCSINK_metrics()
    : messages_(DefineService(axo::metrics::Kind::kCounter, "zep_messages_total",
                              "Service messages counted.", true)),
      faults_(DefineService(axo::metrics::Kind::kCounter, "zep_faults_total",
                            "Service messages that carried a fault.", true)),
      elapsed_(DefineService(axo::metrics::Kind::kHistogram, "zep_elapsed_seconds",
                             "Elapsed time of request-response service messages.", false,
                             axo::metrics::LatencyBuckets())),
      length_(DefineService(axo::metrics::Kind::kHistogram, "zep_message_length_bytes",
                            "Length of service messages.", false, axo::metrics::SizeBuckets())) {
  axo::metrics::SetBoundedWritersLock([](const std::function<void()>& fn) {
    OSB1_ScopedLock lock(&ZEPSHARED_agentData::metricsLogListLock, OSB1_BOUNDED);
    if (!lock.held()) return false;
    fn();
    return true;
  });
}

void ZEPSVCSINK_metrics::accept(ZEPSINK_Record& record) {
  const zep_zepsmt_data_t& row = record.line.metricsRow;
  ZEPIELEM_SvcInv::Series local;
  ZEPIELEM_SvcInv::Series* s = record.service != nullptr && row.msgloc >= 0 && row.msgloc < 4
                                   ? &record.service->series[row.msgloc]
                                   : &local;
  // The label values, made only when a handle needs a lookup.
  auto values = [&] {
    const char* subnode = record.server.getSubnodeName();
    return std::vector<std::string>{
        Trimmed(subnode, std::strlen(subnode)), Trimmed(row.portname, sizeof(row.portname)),
        Trimmed(row.opname, sizeof(row.opname)), std::to_string(row.msgloc)};
  };
  // Every update runs under metricsLogListLock: the serialised updates.
  // Each family is touched on every record, so that none of an operation's
  // series expires while it is counted.
  messages_.Use(&s->messages, values).counter.IncSerialized();
  axo::metrics::Counter& faults = faults_.Use(&s->faults, values).counter;
  if (record.line.hasFault()) faults.IncSerialized();
  axo::metrics::Histogram& elapsed = elapsed_.Use(&s->elapsed, values).histogram;
  if (row.elpsdtime >= 0) elapsed.ObserveSerialized(row.elpsdtime / 1000.0);
  axo::metrics::Histogram& length = length_.Use(&s->length, values).histogram;
  if (row.msglength >= 0) length.ObserveSerialized(row.msglength);
}

void ZEPSVCSINK_metrics::serverGone(const ZEPDCLOG_DCMetricsLogFile& server) {
  const std::string subnode =
      Trimmed(server.getSubnodeName(), std::strlen(server.getSubnodeName()));
  for (axo::metrics::Family* f : {&messages_, &faults_, &elapsed_, &length_}) {
    f->RemoveWhere("subnode", subnode);
  }
}
