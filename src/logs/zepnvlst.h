// Service inventory: the service operations of one server.
//
// ZEPNVLST_SvcInventoryList keeps one ZEPIELEM_SvcInv per service operation
// in ascending key order (port name, operation name, service type), with a
// hash index beside the list so that finding the entry of a metric line
// costs the same however many operations the server has: the index hashes
// the port and operation names without their column padding and probes a
// flat table of (hash, entry) slots. It also keeps the running number of
// buckets of all its entries.
//
// Ownership: the inventory owns its entries.
//
// Thread-safety: none of its own; used under metricsLogListLock.
#ifndef ZEP_LOGS_ZEPNVLST_H_
#define ZEP_LOGS_ZEPNVLST_H_

#include <cstdint>
#include <string_view>
#include <vector>

#include "foundation/zepllst.h"
#include "logs/zepielem.h"

class ZEPMELEM_MetricLine;
class ZEPADLST_AggDataList;
class ZEPAELEM_AggData;

class ZEPNVLST_SvcInventoryList {
 public:
  // An empty inventory whose entries use windows of `windowMinutes` minutes;
  // the default is the window length fixed at start-up.
  explicit ZEPNVLST_SvcInventoryList(int windowMinutes = 0);
  ~ZEPNVLST_SvcInventoryList();

  ZEPNVLST_SvcInventoryList(const ZEPNVLST_SvcInventoryList&) = delete;
  ZEPNVLST_SvcInventoryList& operator=(const ZEPNVLST_SvcInventoryList&) = delete;

  // Returns the entry of `line`'s service operation, creating it in key
  // order when it is new.
  ZEPIELEM_SvcInv* add(const ZEPMELEM_MetricLine& line);

  // The entries in key order.
  ZEPIELEM_SvcInv* front() const { return static_cast<ZEPIELEM_SvcInv*>(list_.front()); }
  ZEPIELEM_SvcInv* next(const ZEPIELEM_SvcInv* e) const {
    return static_cast<ZEPIELEM_SvcInv*>(list_.next(e));
  }
  int32_t size() const { return list_.size(); }
  // Unlinks the first entry; the caller owns it (null when empty).
  ZEPIELEM_SvcInv* pop_front();
  // Deletes every entry.
  void clear();

  // The number of buckets of all entries; constant time.
  int32_t getNumAggDataBuckets() const { return numBuckets_; }

  // Finds the oldest bucket of the inventory: among the entries with buckets,
  // the one whose last (oldest) bucket begins earliest, the earlier entry on
  // equal begins. Outputs null, null and 2147483647 when there is none.
  // Returns the number of buckets of all entries.
  int32_t getOldestAggDataBucket(ZEPADLST_AggDataList** list, ZEPAELEM_AggData** bucket,
                                 int32_t* begin) const;

  // Expires, in entry order, every entry's oldest bucket that begins at
  // `begin` -- the buckets repeated getOldestAggDataBucket and expire calls
  // would take for that window, in one walk. Returns their number.
  int32_t expireWindow(int32_t begin);

 private:
  // One slot of the index; an empty slot has no entry.
  struct Slot {
    uint64_t hash = 0;
    ZEPIELEM_SvcInv* entry = nullptr;
  };
  // The hash of a service operation's key texts (ZEPIELEM_SvcInv::keyText).
  static uint64_t hashKey(std::string_view port, std::string_view op, int16_t type);
  // Enters `entry` into the index, growing it to keep it at most half full.
  void indexEntry(ZEPIELEM_SvcInv* entry);
  // Rebuilds the index from the list.
  void reindex();

  int windowMinutes_;
  int32_t numBuckets_ = 0;
  ZEPLLST_LinkedList list_;
  std::vector<Slot> index_;  // open addressing, linear probing; a power of 2
};

#endif  // ZEP_LOGS_ZEPNVLST_H_
