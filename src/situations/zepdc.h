// The data computer: evaluates message-count situations inside the agent.
//
// A message-count situation is true when the number of messages from client
// address A to service S, operation O within the last T seconds compares in
// a given way with a limit L. Any of A, S, O may be the wildcard "*", with
// the rule that a service "*" requires operation "*".
//
// The data computer keeps
//   - a filter tree: client-address nodes, their service nodes, their
//     operation nodes, and under each operation node one payload element per
//     situation referring to its message counter;
//   - the MC list: one payload element per situation, in creation order;
//   - a timer thread that advances every counter every 30 seconds (Poll),
//     which pushes ZEPMATT event rows when a situation changes state.
//
// Node keys are the values exactly as situations and metric records give
// them: a concrete value is the column's 64 characters with its trailing
// blanks, the wildcard is the one-character text "*". Each tree level keeps a
// hash index beside its list, so matching one message costs a constant number
// of lookups and touches only the counters of matching situations.
//
// Thread-safety: every operation is thread-safe and takes the data
// computer's lock, except FindSituations, which requires it held. Lock order: metricsLogListLock,
// then this lock, then the ZEPMATT manager's lock (taken by Poll when events are pushed). Whoever
// holds the ZEPMATT manager's lock must not call CreateSituation,
// DeleteSituation or GetCDT.
#ifndef ZEP_SITUATIONS_ZEPDC_H_
#define ZEP_SITUATIONS_ZEPDC_H_

#include <pthread.h>

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string_view>
#include <unordered_map>

#include "axo/base/osb1.h"
#include "logs/zepsink.h"

class ZEPLLST_LinkedList;
class ZEPMELEM_MetricLine;
class ZEPDCFN_FilterNode;
class ZEPPELEM_PayloadElement;
class ZEPDCMC_MessageCounter;

class ZEPDC_DataComputer : public ZEPSINK_RecordSink {
 public:
  // Timer state values.
  enum : int16_t { TIMER_RUNNING = 0, TIMER_STOP_REQUESTED = 1, TIMER_STOPPED = 2 };
  // Seconds between two timer passes: the width of one counter cell.
  static constexpr int TIMER_PERIOD_SECONDS = 30;

  // Creates an empty data computer and starts its timer thread. When the
  // thread cannot be started an error record is written and the timer state
  // is TIMER_STOPPED; the data computer otherwise works (Poll can be called).
  // With startTimer false no thread is started (tests drive Poll directly).
  explicit ZEPDC_DataComputer(bool startTimer = true);

  // Stops the timer thread (returns only after it has ended; it is woken at
  // once), then destroys every counter, the tree and the MC list.
  ~ZEPDC_DataComputer() override;

  ZEPDC_DataComputer(const ZEPDC_DataComputer&) = delete;
  ZEPDC_DataComputer& operator=(const ZEPDC_DataComputer&) = delete;

  // Registers a situation. The texts are copied; interval is in seconds and
  // is normalised (at least 60, a multiple of 30). Returns true when a new
  // counter was created; false for a null text, a service "*" with an
  // operation other than "*", an interval above one day, or a situation with
  // the same eight values that already exists.
  bool CreateSituation(const char* clientAddress, const char* service, const char* operation,
                       int32_t interval, int32_t limit, uint8_t comparator, const char* originNode,
                       const char* situationName);

  // Removes the situation with exactly these eight values (interval
  // normalised as in CreateSituation) and destroys its counter; tree nodes
  // left without children are removed. Returns true when it was found at
  // every level of the tree.
  bool DeleteSituation(const char* clientAddress, const char* service, const char* operation,
                       int32_t interval, int32_t limit, uint8_t comparator, const char* originNode,
                       const char* situationName);

  // Requires the lock held (OSB1_ScopedLock on lock()). Collects, in the order
  // (A,S,O), (A,S,*), (A,*,*), (*,S,O), (*,S,*), (*,*,*), the children lists
  // of the operation nodes that exist on these paths. Returns a new array of
  // *count lists (the caller delete[]s it), or null with *count 0 when none
  // exists or an argument is null. The lists stay owned by the tree.
  ZEPLLST_LinkedList** FindSituations(int* count, const char* clientAddress, const char* service,
                                      const char* operation);

  // Counts one message from clientAddress to service/operation in every
  // matching situation. Always returns true.
  bool Increment(const char* clientAddress, const char* service, const char* operation);

  // Counts the message of a metric line when its location code is 2 (its
  // RMIPADDR, PORTNAME and OPNAME columns, 64 characters each with their
  // trailing blanks); other lines are ignored. Returns true.
  bool Increment(const ZEPMELEM_MetricLine* line);

  // The SITUATIONS stage of the record sinks: counts the record's line
  // (Increment) when its message time is after the agent's start
  // (ZEPSHARED_agentData::dcaStartTime). Requires: metricsLogListLock.
  void accept(ZEPSINK_Record& record) override;

  // One timer pass: advances every counter's cell in MC-list order, pushing
  // events on changes of state. Returns true.
  bool Poll();

  // Appends to `list` one payload element per situation, in creation order,
  // each carrying a ZEPDCROW_DataRow with the situation's ZEPMATT row
  // (ORIGINNODE and HOSTNAME blank). The caller owns the elements, data rows
  // and row records. A null list is reported and ignored.
  void GetCDT(ZEPLLST_LinkedList* list);

  // The data computer's lock, for callers of FindSituations; take it through
  // OSB1_ScopedLock, inside metricsLogListLock when both are held.
  OSB1_Lock* lock() { return &lock_; }

  // Body of the timer thread: a pass every TIMER_PERIOD_SECONDS until a stop
  // is requested; then sets the state to TIMER_STOPPED.
  void timer();

  // The tree's client-address level and the MC list. Require the lock held.
  ZEPLLST_LinkedList* getList();
  ZEPLLST_LinkedList* getMCList();

  // Current timer state (TIMER_RUNNING ...).
  int16_t timerState();

 private:
  // Finds the MC-list element of the situation with these eight values.
  // Requires the lock held.
  ZEPPELEM_PayloadElement* findMC(const char* clientAddress, const char* service,
                                  const char* operation, int32_t interval, int32_t limit,
                                  uint8_t comparator, const char* originNode,
                                  const char* situationName);
  void removeFromMCList(ZEPPELEM_PayloadElement* element);
  // Fills `lists` with the children lists of the operation nodes matching
  // the three values (see FindSituations), each list once. Returns their
  // number. Requires the lock held and non-null arguments.
  int collectSituations(ZEPLLST_LinkedList* lists[6], const char* clientAddress,
                        const char* service, const char* operation) const;

  ZEPDCFN_FilterNode* root_;    // children: the client-address nodes
  ZEPLLST_LinkedList* mcList_;  // payload elements, creation order
  // MC-list elements by situation key; several situations may share a key.
  std::unordered_multimap<std::string_view, ZEPPELEM_PayloadElement*> mcIndex_;
  OSB1_Lock lock_;

  std::mutex timerMutex_;  // guards timerState_; paired with timerWake_
  std::condition_variable timerWake_;
  int16_t timerState_;
  pthread_t timerThread_;
  bool timerStarted_;
};

// Thread entry of the timer: `arg` is the ZEPDC_DataComputer.
extern "C" void* ZEPDC_DataComputer_timer(void* arg);

#endif  // ZEP_SITUATIONS_ZEPDC_H_
