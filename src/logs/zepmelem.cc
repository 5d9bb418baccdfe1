// Metric line: one parsed record line of a metric log file.
#include "logs/zepmelem.h"

#include <cstring>
#include <functional>

#include "axo/base/trk1.h"
#include "foundation/zepstrut.h"

TRK1_UNIT(zepmelem_unit, "ZEPMELEM");

namespace {

// Copies a fixed-width column between rows of different tables.
template <size_t N, size_t M>
void copyColumn(char (&dst)[N], const char (&src)[M]) {
  static_assert(N == M, "columns of equal width");
  std::memcpy(dst, src, N);
}

}  // namespace

ZEPMELEM_MetricLine::ZEPMELEM_MetricLine(int32_t readTime) : readTime(readTime) {
  std::memset(&metricsRow, ' ', sizeof(metricsRow));
}

ZEPMELEM_MetricLine::ZEPMELEM_MetricLine(int32_t readTime, const zep_zepsmt_data_t& row)
    : readTime(readTime) {
  std::memcpy(&metricsRow, &row, sizeof(metricsRow));
}

ZEPMELEM_MetricLine::~ZEPMELEM_MetricLine() { delete faultRow; }

int ZEPMELEM_MetricLine::compareKeys(const void* key) const {
  const void* self = this;
  if (self == key) return 0;
  return std::less<const void*>()(self, key) ? -1 : 1;
}

zep_zepflct_data_t* ZEPMELEM_MetricLine::allocFaultDataRow() {
  if (faultRow != nullptr) return faultRow;
  faultRow = new zep_zepflct_data_t;
  std::memset(faultRow, ' ', sizeof(*faultRow));
  copyColumn(faultRow->originnode, metricsRow.originnode);
  copyColumn(faultRow->hostname, metricsRow.hostname);
  faultRow->msgloc = metricsRow.msgloc;
  copyColumn(faultRow->msgtime, metricsRow.msgtime);
  copyColumn(faultRow->portname, metricsRow.portname);
  faultRow->appsrvenv = metricsRow.appsrvenv;
  copyColumn(faultRow->appsrvnm, metricsRow.appsrvnm);
  copyColumn(faultRow->opname, metricsRow.opname);
  copyColumn(faultRow->currcorr, metricsRow.currcorr);
  copyColumn(faultRow->tablever, metricsRow.tablever);
  if (TRK1_On(&zepmelem_unit, TRK1_DETAIL)) {
    TRK1_Printf(&zepmelem_unit, __LINE__, "fault row created\n");
  }
  return faultRow;
}

void ZEPMELEM_MetricLine::setFaultCode(const char* text, int len) {
  if (len > 0) allocFaultDataRow();
  if (faultRow == nullptr) return;
  ZEPSTRUT_stringUtil::memcpyWithPad(faultRow->fltcode, text, len > 0 ? len : 0,
                                     sizeof(faultRow->fltcode), ' ');
}

void ZEPMELEM_MetricLine::setFaultString(const char* text, int len) {
  if (len > 0) allocFaultDataRow();
  if (faultRow == nullptr) return;
  ZEPSTRUT_stringUtil::memcpyWithPad(faultRow->fltstr, text, len > 0 ? len : 0,
                                     sizeof(faultRow->fltstr), ' ');
}
