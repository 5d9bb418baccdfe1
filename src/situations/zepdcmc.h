// Message counter: the state of one message-count situation.
//
// A counter keeps a sliding window of message counts over the situation's
// interval, made of 30-second cells that the data computer's timer advances,
// compares the window sum with the situation's limit, and remembers the last
// reported truth value. When the truth value changes, it pushes one ZEPMATT
// row as an event.
//
// Comparator codes: 0 sum > limit, 1 sum >= limit, 2 sum < limit,
// 3 sum <= limit; any other code is never true.
//
// Intervals are normalised: below 60 seconds becomes 60, otherwise rounded up
// to a multiple of 30; so a counter has interval / 30 >= 2 cells. Intervals
// above one day are refused (they would need unreasonable cell arrays).
//
// Thread-safety: none of its own. Every operation runs under the data
// computer's lock; AdvanceCell pushes events with that lock held.
#ifndef ZEP_SITUATIONS_ZEPDCMC_H_
#define ZEP_SITUATIONS_ZEPDCMC_H_

#include <cstdint>
#include <string>
#include <vector>

#include "situations/zeppld.h"

struct zep_zepmatt_data_t;

// The situation key: client address, service, operation, origin node, the
// interval, the limit and the comparator code in decimal, and the situation
// name, concatenated without separators ("***N160101S"). The key does not
// identify a situation on its own (interval 60 with limit 300 and interval
// 6030 with limit 0 give the same text): compare the eight values as well.
// Null texts count as empty. `interval` is used as given (normalise first).
std::string createKey(const char* clientAddress, const char* service, const char* operation,
                      int64_t interval, int32_t limit, uint8_t comparator, const char* originNode,
                      const char* situationName);

class ZEPDCMC_MessageCounter : public ZEPPLD_Payload {
 public:
  static constexpr int CELL_SECONDS = 30;
  static constexpr int MIN_INTERVAL_SECONDS = 60;
  static constexpr int64_t MAX_INTERVAL_SECONDS = 86400;

  // Comparator code meaning "no comparison" (never true).
  static constexpr uint8_t COMPARATOR_NONE = 100;

  // Returns `interval` normalised: at least 60, rounded up to a multiple of
  // 30. Computed in 64 bits, so it never overflows.
  static int64_t normalizeInterval(int64_t interval);
  // True when the normalised `interval` is at most MAX_INTERVAL_SECONDS.
  static bool isAcceptableInterval(int64_t interval);

  // Copies the texts and normalises the interval. A null text or an interval
  // above MAX_INTERVAL_SECONDS is reported as an error; the counter then has
  // no key and no cells (isValid() false) and must not be used. The interval
  // as given is kept for the TMINT column of the rows, so that a situation's
  // own TMINT condition still selects them.
  ZEPDCMC_MessageCounter(const char* clientAddress, const char* service, const char* operation,
                         int32_t interval, int32_t limit, uint8_t comparator,
                         const char* originNode, const char* situationName);
  ~ZEPDCMC_MessageCounter() override = default;

  bool isValid() const { return !cells_.empty(); }

  // The situation key (createKey), or null for an invalid counter.
  const char* getKey() const override;

  // True when the counter was created with exactly these eight values (the
  // interval compared after normalisation).
  bool isSituation(const char* clientAddress, const char* service, const char* operation,
                   int32_t interval, int32_t limit, uint8_t comparator, const char* originNode,
                   const char* situationName) const;

  // Counts one message in the running cell.
  void Increment();

  // Ends the running cell: adds it to the window sum, evaluates, pushes an
  // event when the truth value changed, then starts the next cell and drops
  // the oldest one from the sum.
  void AdvanceCell();

  // The comparison of the window sum with the limit.
  bool IsTriggered() const;

  // Fills `row` with this situation's ZEPMATT row: blanks, then PORTNAME,
  // OPNAME, RMIPADDR, TABLEVER "1", SITNAME, TMINT (the interval as given),
  // MSGLMT, COMPARATOR and MSGCNT (the window sum). With withOrigin, ORIGINNODE and the first 32
  // characters of HOSTNAME hold the origin node; otherwise both stay blank.
  void fillRow(zep_zepmatt_data_t* row, bool withOrigin) const;

  // The normalised interval, and the interval as given at creation.
  int32_t interval() const { return interval_; }
  int32_t requestedInterval() const { return requestedInterval_; }
  int32_t limit() const { return limit_; }
  uint8_t comparator() const { return comparator_; }
  int32_t windowSum() const;
  bool state() const { return state_ != 0; }
  int cellCount() const { return static_cast<int>(cells_.size()); }
  const std::string& clientAddress() const { return clientAddress_; }
  const std::string& service() const { return service_; }
  const std::string& operation() const { return operation_; }
  const std::string& originNode() const { return originNode_; }
  const std::string& situationName() const { return situationName_; }

  // Where AdvanceCell pushes its event rows: the ZEPMATT table's manager
  // (zep_zepmatt_manager::EventArrived) once that table is initialised, or a
  // test's recorder. Null pushes nothing. Returns the sink it replaces.
  using EventSink = uint32_t (*)(const zep_zepmatt_data_t* rows, int n);
  static EventSink setEventSink(EventSink sink);

 private:
  int32_t interval_ = 0;           // normalised: the window's length
  int32_t requestedInterval_ = 0;  // as given: the rows' TMINT
  int32_t limit_ = 0;
  uint8_t comparator_ = COMPARATOR_NONE;
  std::string key_;
  std::string clientAddress_;
  std::string service_;
  std::string operation_;
  std::string originNode_;
  std::string situationName_;
  int64_t windowSum_ = 0;  // 64 bits: a day of busy cells cannot overflow it
  size_t current_ = 0;
  uint8_t state_ = 0;
  std::vector<int32_t> cells_;
};

#endif  // ZEP_SITUATIONS_ZEPDCMC_H_
