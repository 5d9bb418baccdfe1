// Service inventory: the service operations of one server.
#include "logs/zepnvlst.h"

#include <cstdint>
#include <cstring>
#include <string_view>

#include "axo/base/trk1.h"
#include "logs/zepmelem.h"
#include "logs/zepshared.h"

TRK1_UNIT(zepnvlst_unit, "ZEPNVLST");

namespace {

constexpr size_t kInitialSlots = 16;

// Mixes one word into the hash (a multiply and a fold of the high half).
inline uint64_t mix(uint64_t h, uint64_t word) {
  h = (h ^ word) * 0x9E3779B97F4A7C15ull;
  return h ^ (h >> 32);
}

inline uint64_t load64(const char* p) {
  uint64_t word;
  std::memcpy(&word, p, sizeof(word));
  return word;
}

inline uint64_t load32(const char* p) {
  uint32_t word;
  std::memcpy(&word, p, sizeof(word));
  return word;
}

// Mixes a text eight bytes at a time, the last word overlapping the one
// before, then its length, so that the same bytes split differently
// between port and operation hash apart. Reads only the text's bytes.
inline uint64_t mixText(uint64_t h, std::string_view text) {
  const char* p = text.data();
  const size_t n = text.size();
  if (n >= 8) {
    for (size_t i = 0; i + 8 < n; i += 8) h = mix(h, load64(p + i));
    h = mix(h, load64(p + n - 8));
  } else if (n >= 4) {
    h = mix(h, load32(p) << 32 | load32(p + n - 4));
  } else if (n > 0) {
    h = mix(h, static_cast<uint64_t>(static_cast<unsigned char>(p[0])) << 16 |
                   static_cast<uint64_t>(static_cast<unsigned char>(p[n / 2])) << 8 |
                   static_cast<unsigned char>(p[n - 1]));
  }
  return mix(h, n);
}

}  // namespace

uint64_t ZEPNVLST_SvcInventoryList::hashKey(std::string_view port, std::string_view op,
                                            int16_t type) {
  return mixText(mixText(static_cast<uint64_t>(type + 2), port), op);
}

ZEPNVLST_SvcInventoryList::ZEPNVLST_SvcInventoryList(int windowMinutes)
    : windowMinutes_(windowMinutes > 0 ? windowMinutes
                                       : ZEPSHARED_agentData::aggDataWindowSizeMinutes) {}

ZEPNVLST_SvcInventoryList::~ZEPNVLST_SvcInventoryList() { clear(); }

ZEPIELEM_SvcInv* ZEPNVLST_SvcInventoryList::add(const ZEPMELEM_MetricLine& line) {
  const zep_zepsmt_data_t& m = line.metricsRow;
  const std::string_view port = ZEPIELEM_SvcInv::keyText(m.portname);
  const std::string_view op = ZEPIELEM_SvcInv::keyText(m.opname);
  const int16_t type = ZEPIELEM_SvcInv::svcTypeFromMsgLoc(m.msgloc);
  if (!index_.empty()) {
    const uint64_t hash = hashKey(port, op, type);
    const size_t mask = index_.size() - 1;
    for (size_t i = hash & mask; index_[i].entry != nullptr; i = (i + 1) & mask) {
      if (index_[i].hash == hash && index_[i].entry->matches(port, op, type)) {
        return index_[i].entry;
      }
    }
  }

  // A new operation: insert it in key order.
  ZEPIELEM_SvcInv* before = front();
  while (before != nullptr && before->compareToMetric(line) < 0) before = next(before);
  ZEPIELEM_SvcInv* entry = new ZEPIELEM_SvcInv(line, windowMinutes_, &numBuckets_);
  list_.insert_before(entry, before);
  indexEntry(entry);
  TRK1_Trace(&zepnvlst_unit, TRK1_DETAIL, "service operations: %d\n", list_.size());
  return entry;
}

ZEPIELEM_SvcInv* ZEPNVLST_SvcInventoryList::pop_front() {
  ZEPIELEM_SvcInv* entry = front();
  if (entry == nullptr) return nullptr;
  list_.pop_front();
  reindex();
  numBuckets_ -= entry->aggDataList().size();
  entry->aggDataList().detachBucketCounter();
  return entry;
}

void ZEPNVLST_SvcInventoryList::clear() {
  index_.clear();
  list_.clear();
}

void ZEPNVLST_SvcInventoryList::indexEntry(ZEPIELEM_SvcInv* entry) {
  if (static_cast<size_t>(list_.size()) * 2 > index_.size()) {
    reindex();  // the list holds the entry already
    return;
  }
  const uint64_t hash = hashKey(ZEPIELEM_SvcInv::keyText(entry->row.portname),
                                ZEPIELEM_SvcInv::keyText(entry->row.opname), entry->row.svctype);
  const size_t mask = index_.size() - 1;
  size_t i = hash & mask;
  while (index_[i].entry != nullptr) i = (i + 1) & mask;
  index_[i] = Slot{hash, entry};
}

void ZEPNVLST_SvcInventoryList::reindex() {
  size_t slots = kInitialSlots;
  while (slots < static_cast<size_t>(list_.size()) * 2) slots *= 2;
  index_.assign(slots, Slot{});
  for (ZEPIELEM_SvcInv* e = front(); e != nullptr; e = next(e)) indexEntry(e);
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
