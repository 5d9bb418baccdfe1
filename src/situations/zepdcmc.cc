// Message counter: sliding window of 30-second cells for one situation.
#include "situations/zepdcmc.h"

#include <atomic>
#include <climits>
#include <cstring>

#include "axo/base/trk1.h"
#include "foundation/zeprows.h"
#include "foundation/zepstrut.h"

TRK1_UNIT(zepdcmc_unit, "ZEPDCMC");

namespace {

std::atomic<ZEPDCMC_MessageCounter::EventSink> g_eventSink{nullptr};

uint32_t pushEvent(zep_zepmatt_data_t* row) {
  ZEPDCMC_MessageCounter::EventSink sink = g_eventSink.load();
  return sink != nullptr ? sink(row, 1) : 0;
}

// Writes `text` blank-padded (or cut) to `width` bytes, no terminator.
void putText(char* column, const std::string& text, unsigned width) {
  ZEPSTRUT_stringUtil::memcpyWithPad(column, text.data(), static_cast<unsigned>(text.size()), width,
                                     ' ');
}

}  // namespace

std::string createKey(const char* clientAddress, const char* service, const char* operation,
                      int64_t interval, int32_t limit, uint8_t comparator, const char* originNode,
                      const char* situationName) {
  auto text = [](const char* s) { return s == nullptr ? "" : s; };
  std::string key;
  key.reserve(3 * 64 + 32 + 32 + 24);
  key.append(text(clientAddress)).append(text(service)).append(text(operation));
  key.append(text(originNode));
  key.append(std::to_string(interval)).append(std::to_string(limit));
  key.append(std::to_string(static_cast<unsigned>(comparator)));
  key.append(text(situationName));
  return key;
}

int64_t ZEPDCMC_MessageCounter::normalizeInterval(int64_t interval) {
  if (interval < MIN_INTERVAL_SECONDS) return MIN_INTERVAL_SECONDS;
  return (interval + CELL_SECONDS - 1) / CELL_SECONDS * CELL_SECONDS;
}

bool ZEPDCMC_MessageCounter::isAcceptableInterval(int64_t interval) {
  return normalizeInterval(interval) <= MAX_INTERVAL_SECONDS;
}

ZEPDCMC_MessageCounter::ZEPDCMC_MessageCounter(const char* clientAddress, const char* service,
                                               const char* operation, int32_t interval,
                                               int32_t limit, uint8_t comparator,
                                               const char* originNode, const char* situationName) {
  if (clientAddress == nullptr || service == nullptr || operation == nullptr ||
      originNode == nullptr || situationName == nullptr) {
    TRK1_Trace(&zepdcmc_unit, TRK1_ERROR, "NULL is not a valid parameter\n");
    return;
  }
  if (!isAcceptableInterval(interval)) {
    TRK1_Trace(&zepdcmc_unit, TRK1_ERROR, "Interval of %d seconds is longer than one day\n",
               interval);
    return;
  }
  clientAddress_ = clientAddress;
  service_ = service;
  operation_ = operation;
  originNode_ = originNode;
  situationName_ = situationName;
  limit_ = limit;
  comparator_ = comparator;
  interval_ = static_cast<int32_t>(normalizeInterval(interval));
  requestedInterval_ = interval;
  key_ = createKey(clientAddress, service, operation, interval_, limit, comparator, originNode,
                   situationName);
  cells_.assign(static_cast<size_t>(interval_ / CELL_SECONDS), 0);
}

const char* ZEPDCMC_MessageCounter::getKey() const { return isValid() ? key_.c_str() : nullptr; }

bool ZEPDCMC_MessageCounter::isSituation(const char* clientAddress, const char* service,
                                         const char* operation, int32_t interval, int32_t limit,
                                         uint8_t comparator, const char* originNode,
                                         const char* situationName) const {
  if (!isValid() || clientAddress == nullptr || service == nullptr || operation == nullptr ||
      originNode == nullptr || situationName == nullptr) {
    return false;
  }
  return normalizeInterval(interval) == interval_ && limit == limit_ && comparator == comparator_ &&
         clientAddress_ == clientAddress && service_ == service && operation_ == operation &&
         originNode_ == originNode && situationName_ == situationName;
}

void ZEPDCMC_MessageCounter::Increment() {
  if (!isValid()) return;
  int32_t& cell = cells_[current_];
  if (cell < INT32_MAX) ++cell;
}

int32_t ZEPDCMC_MessageCounter::windowSum() const {
  return windowSum_ > INT32_MAX ? INT32_MAX : static_cast<int32_t>(windowSum_);
}

bool ZEPDCMC_MessageCounter::IsTriggered() const {
  switch (comparator_) {
    case 0:
      return windowSum_ > limit_;
    case 1:
      return windowSum_ >= limit_;
    case 2:
      return windowSum_ < limit_;
    case 3:
      return windowSum_ <= limit_;
    default:
      return false;
  }
}

void ZEPDCMC_MessageCounter::AdvanceCell() {
  if (!isValid()) return;
  windowSum_ += cells_[current_];
  const bool triggered = IsTriggered();
  if (triggered != (state_ != 0)) {
    zep_zepmatt_data_t row;
    fillRow(&row, true);
    TRK1_Trace(
        &zepdcmc_unit, TRK1_DETAIL,
        triggered ? "Send event: old false, new true\n" : "Send event: old true, new false\n");
    pushEvent(&row);
    state_ = triggered ? 1 : 0;
  }
  current_ = (current_ + 1) % cells_.size();
  windowSum_ -= cells_[current_];
  cells_[current_] = 0;
}

void ZEPDCMC_MessageCounter::fillRow(zep_zepmatt_data_t* row, bool withOrigin) const {
  std::memset(row, ' ', sizeof(*row));
  if (withOrigin) {
    putText(row->originnode, originNode_, sizeof(row->originnode));
    putText(row->hostname, originNode_, 32);  // the other 32 stay blank
  }
  putText(row->portname, service_, sizeof(row->portname));
  putText(row->opname, operation_, sizeof(row->opname));
  putText(row->rmipaddr, clientAddress_, sizeof(row->rmipaddr));
  putText(row->tablever, "1", sizeof(row->tablever));
  putText(row->sitname, situationName_, sizeof(row->sitname));
  row->tmint = requestedInterval_;
  row->msglmt = limit_;
  row->comparator = comparator_;
  row->msgcnt = windowSum();
}

ZEPDCMC_MessageCounter::EventSink ZEPDCMC_MessageCounter::setEventSink(EventSink sink) {
  return g_eventSink.exchange(sink);
}
