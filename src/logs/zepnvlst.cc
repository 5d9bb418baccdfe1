// Service inventory: the service operations of one server.
#include "logs/zepnvlst.h"

#include <cstdint>
#include <cstring>
#include <string_view>

#include "axo/base/trk1.h"
#include "logs/zepmelem.h"
#include "logs/zepshared.h"

TRK1_UNIT(zepnvlst_unit, "ZEPNVLST");

bool ZEPNVLST_SvcInventoryList::Key::operator==(const Key& o) const {
  return type == o.type && std::memcmp(port, o.port, 64) == 0 && std::memcmp(op, o.op, 64) == 0;
}

// Looked up once per record: the two 64-character columns are mixed eight
// bytes at a time rather than hashed byte by byte.
size_t ZEPNVLST_SvcInventoryList::KeyHash::operator()(const Key& k) const {
  uint64_t h = static_cast<uint64_t>(k.type + 1) * 0x9E3779B97F4A7C15ull;
  for (const char* column : {k.port, k.op}) {
    for (int i = 0; i < 64; i += 8) {
      uint64_t word;
      std::memcpy(&word, column + i, sizeof(word));
      h = (h ^ word) * 0x100000001B3ull;
      h ^= h >> 29;
    }
  }
  return static_cast<size_t>(h ^ (h >> 32));
}

ZEPNVLST_SvcInventoryList::ZEPNVLST_SvcInventoryList(int windowMinutes)
    : windowMinutes_(windowMinutes > 0 ? windowMinutes
                                       : ZEPSHARED_agentData::aggDataWindowSizeMinutes) {}

ZEPNVLST_SvcInventoryList::~ZEPNVLST_SvcInventoryList() { clear(); }

ZEPIELEM_SvcInv* ZEPNVLST_SvcInventoryList::add(const ZEPMELEM_MetricLine& line) {
  const zep_zepsmt_data_t& m = line.metricsRow;
  const Key key{m.portname, m.opname, ZEPIELEM_SvcInv::svcTypeFromMsgLoc(m.msgloc)};
  auto it = index_.find(key);
  if (it != index_.end()) return it->second;

  // A new operation: insert it in key order.
  ZEPIELEM_SvcInv* before = front();
  while (before != nullptr && before->compareToMetric(line) < 0) before = next(before);
  ZEPIELEM_SvcInv* entry = new ZEPIELEM_SvcInv(line, windowMinutes_, &numBuckets_);
  list_.insert_before(entry, before);
  index_.emplace(Key{entry->row.portname, entry->row.opname, entry->row.svctype}, entry);
  if (TRK1_On(&zepnvlst_unit, TRK1_DETAIL)) {
    TRK1_Printf(&zepnvlst_unit, __LINE__, "service operations: %d\n", list_.size());
  }
  return entry;
}

ZEPIELEM_SvcInv* ZEPNVLST_SvcInventoryList::pop_front() {
  ZEPIELEM_SvcInv* entry = front();
  if (entry == nullptr) return nullptr;
  index_.erase(Key{entry->row.portname, entry->row.opname, entry->row.svctype});
  list_.pop_front();
  numBuckets_ -= entry->aggDataList().size();
  entry->aggDataList().detachBucketCounter();
  return entry;
}

void ZEPNVLST_SvcInventoryList::clear() {
  index_.clear();
  list_.clear();
}

int32_t ZEPNVLST_SvcInventoryList::getOldestAggDataBucket(ZEPADLST_AggDataList** list,
                                                          ZEPAELEM_AggData** bucket,
                                                          int32_t* begin) const {
  *list = nullptr;
  *bucket = nullptr;
  *begin = 2147483647;
  int32_t total = 0;
  for (ZEPIELEM_SvcInv* e = front(); e != nullptr; e = next(e)) {
    ZEPADLST_AggDataList& buckets = e->aggDataList();
    if (buckets.size() == 0) continue;
    total += buckets.size();
    ZEPAELEM_AggData* oldest = buckets.back();
    if (oldest->begin < *begin) {
      *list = &buckets;
      *bucket = oldest;
      *begin = oldest->begin;
    }
  }
  return total;
}

int32_t ZEPNVLST_SvcInventoryList::expireWindow(int32_t begin) {
  int32_t expired = 0;
  for (ZEPIELEM_SvcInv* e = front(); e != nullptr; e = next(e)) {
    ZEPADLST_AggDataList& buckets = e->aggDataList();
    ZEPAELEM_AggData* oldest = buckets.back();
    if (oldest != nullptr && oldest->begin == begin) {
      buckets.expire(oldest);
      ++expired;
    }
  }
  return expired;
}
