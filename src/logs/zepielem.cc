// Service entry: one service operation seen on one server.
#include "logs/zepielem.h"

#include <cstring>

#include "axo/base/trk1.h"
#include "foundation/zepstrut.h"
#include "logs/zepmelem.h"

TRK1_UNIT(zepielem_unit, "ZEPIELEM");

namespace {

template <size_t N, size_t M>
void copyColumn(char (&dst)[N], const char (&src)[M]) {
  static_assert(N == M, "columns of equal width");
  std::memcpy(dst, src, N);
}

// Length of a fixed-width column without its trailing blanks (and NULs).
int trimmedLength(const char* column, int width) {
  while (width > 0 && (column[width - 1] == ' ' || column[width - 1] == '\0')) --width;
  return width;
}

int compareService(const char* port, const char* op, int16_t type, const char* otherPort,
                   const char* otherOp, int16_t otherType) {
  int c = std::memcmp(port, otherPort, 64);
  if (c != 0) return c;
  c = std::memcmp(op, otherOp, 64);
  if (c != 0) return c;
  return type - otherType;
}

}  // namespace

ZEPIELEM_SvcInv::ZEPIELEM_SvcInv(const ZEPMELEM_MetricLine& line, int windowMinutes,
                                 int32_t* bucketCounter)
    : aggDataList_(windowMinutes, bucketCounter) {
  const zep_zepsmt_data_t& m = line.metricsRow;
  std::memset(&row, ' ', sizeof(row));
  copyColumn(row.originnode, m.originnode);
  copyColumn(row.portname, m.portname);
  copyColumn(row.opname, m.opname);
  copyColumn(row.hostname, m.hostname);
  copyColumn(row.ipaddr, m.ipaddr);
  copyColumn(row.appsrvnode, m.appsrvnode);
  copyColumn(row.appsrvcell, m.appsrvcell);
  copyColumn(row.appsrvnm, m.appsrvnm);
  copyColumn(row.appsrvclus, m.appsrvclus);
  copyColumn(row.tablever, m.tablever);
  row.appsrvenv = m.appsrvenv;
  row.svctype = svcTypeFromMsgLoc(m.msgloc);
  row.intlength = 0;
  row.avgmsglen = row.msgcount = row.etmsgcount = row.avgetime = 0;
  row.fltcount = row.maxmsglen = row.maxetime = row.minmsglen = row.minetime = 0;
  row.sdmsglen = row.sdetime = 0;
  row.intstatus = 0;

  const int portLen = trimmedLength(m.portname, sizeof(m.portname));
  const int opLen = trimmedLength(m.opname, sizeof(m.opname));
  portLength_ = static_cast<uint8_t>(keyText(row.portname).size());
  opLength_ = static_cast<uint8_t>(keyText(row.opname).size());
  char* out = row.svcopertyp;  // 140 blanks: 64 + 1 + 64 + 2 always fit
  std::memcpy(out, m.portname, portLen);
  out += portLen;
  *out++ = ':';
  std::memcpy(out, m.opname, opLen);
  out += opLen;
  *out++ = ':';
  *out = row.svctype == 0 ? 'R' : 'P';

  TRK1_Trace(&zepielem_unit, TRK1_DETAIL, "new service operation %.*s\n",
             static_cast<int>(out - row.svcopertyp + 1), row.svcopertyp);
}

int16_t ZEPIELEM_SvcInv::svcTypeFromMsgLoc(int16_t msgLoc) {
  if (msgLoc == 0 || msgLoc == 1) return 0;
  if (msgLoc == 2 || msgLoc == 3) return 1;
  return -1;
}

int ZEPIELEM_SvcInv::compareKeys(const void* key) const {
  const zep_zepinv_data_t* other = static_cast<const zep_zepinv_data_t*>(key);
  return compareService(row.portname, row.opname, row.svctype, other->portname, other->opname,
                        other->svctype);
}

int ZEPIELEM_SvcInv::compareToMetric(const ZEPMELEM_MetricLine& line) const {
  const zep_zepsmt_data_t& m = line.metricsRow;
  return compareService(row.portname, row.opname, row.svctype, m.portname, m.opname,
                        svcTypeFromMsgLoc(m.msgloc));
}
