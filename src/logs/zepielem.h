// Service entry: one service operation seen on one server.
//
// A ZEPIELEM_SvcInv is identified by its port name, operation name and
// service type (0 for requests, message locations 0 and 1; 1 for responses,
// locations 2 and 3). It keeps a complete ZEPINV row template whose identity
// columns are filled from the first metric line of the operation, and the
// list of its aggregation buckets.
//
// Ownership: the entry owns its bucket list. The server's inventory owns the
// entries; they live as long as the server object.
//
// Thread-safety: none of its own; used under metricsLogListLock.
#ifndef ZEP_LOGS_ZEPIELEM_H_
#define ZEP_LOGS_ZEPIELEM_H_

#include <cstdint>
#include <string_view>

#include "axo/metrics/metrics.h"
#include "foundation/zeplelem.h"
#include "foundation/zeprows.h"
#include "foundation/zepstrut.h"
#include "logs/zepadlst.h"

class ZEPMELEM_MetricLine;

class ZEPIELEM_SvcInv : public ZEPLELEM_listElem {
 public:
  // Width of the SVCOPERTYP column ("port:operation:R" or ":P").
  static constexpr int SVCOPERTYP_WIDTH = 140;

  // The entry of `line`'s service operation, with windows of `windowMinutes`
  // minutes; `bucketCounter` as for ZEPADLST_AggDataList.
  ZEPIELEM_SvcInv(const ZEPMELEM_MetricLine& line, int windowMinutes,
                  int32_t* bucketCounter = nullptr);
  ~ZEPIELEM_SvcInv() override = default;

  ZEPIELEM_SvcInv(const ZEPIELEM_SvcInv&) = delete;
  ZEPIELEM_SvcInv& operator=(const ZEPIELEM_SvcInv&) = delete;

  // Message location 0 or 1 gives 0, 2 or 3 gives 1, anything else -1.
  static int16_t svcTypeFromMsgLoc(int16_t msgLoc);

  // The key is the row template; compareKeys orders by PORTNAME (64 bytes),
  // then OPNAME (64 bytes), then SVCTYPE.
  const void* getElemKey() const override { return &row; }
  int compareKeys(const void* key) const override;
  // The same order against a metric line's service operation.
  int compareToMetric(const ZEPMELEM_MetricLine& line) const;

  // A PORTNAME or OPNAME column (64 bytes) as its key text: without its
  // trailing blanks. Two columns are equal exactly when their key texts are.
  static std::string_view keyText(const char* column) {
    return std::string_view(column, ZEPSTRUT_stringUtil::lengthWithoutPad(column, 64));
  }
  // True when this entry is the service operation of the key texts `port`
  // and `op` (see keyText) and service type `type`.
  bool matches(std::string_view port, std::string_view op, int16_t type) const {
    return type == row.svctype && port.size() == portLength_ && op.size() == opLength_ &&
           ZEPSTRUT_stringUtil::equalBytes(port.data(), row.portname, port.size()) &&
           ZEPSTRUT_stringUtil::equalBytes(op.data(), row.opname, op.size());
  }

  // The bucket list of this service operation.
  ZEPADLST_AggDataList& aggDataList() { return aggDataList_; }
  const ZEPADLST_AggDataList& aggDataList() const { return aggDataList_; }

  // The row template: identity columns filled, interval columns left for
  // calcAggData, INTSTATUS for the inventory table.
  zep_zepinv_data_t row;

  // The registry series of this operation per message location 0..3, as
  // the bounded families hand them out (axo/metrics/metrics.h): looked up on
  // the first record of each and again when a series left (expired, or the
  // labels changed) or the family has room for one folded into overflow.
  struct Series {
    axo::metrics::Family::Handle messages;
    axo::metrics::Family::Handle faults;
    axo::metrics::Family::Handle elapsed;
    axo::metrics::Family::Handle length;
  };
  Series series[4];

 private:
  ZEPADLST_AggDataList aggDataList_;
  uint8_t portLength_;  // the key texts' lengths: PORTNAME and OPNAME
  uint8_t opLength_;    // without their trailing blanks
};

#endif  // ZEP_LOGS_ZEPIELEM_H_
