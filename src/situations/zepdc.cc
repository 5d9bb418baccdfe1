// Data computer: filter tree, MC list and timer of the message-count
// situations.
#include "situations/zepdc.h"

#include <chrono>
#include <cstring>

#include "axo/base/trk1.h"
#include "foundation/zepllst.h"
#include "foundation/zepport.h"
#include "foundation/zeprows.h"
#include "logs/zepmelem.h"
#include "logs/zepshared.h"
#include "situations/zepdcfn.h"
#include "situations/zepdcmc.h"
#include "situations/zepdcrow.h"
#include "situations/zeppelem.h"

TRK1_UNIT(zepdc_unit, "ZEPDC");

namespace {

ZEPDCMC_MessageCounter* counterOf(const ZEPLELEM_listElem* elem) {
  // Every payload of the tree's payload level and of the MC list is a counter.
  return static_cast<ZEPDCMC_MessageCounter*>(
      static_cast<const ZEPPELEM_PayloadElement*>(elem)->getPayload());
}

bool anyNull(const char* a, const char* b, const char* c, const char* d, const char* e) {
  return a == nullptr || b == nullptr || c == nullptr || d == nullptr || e == nullptr;
}

// Copies a 64-character column into a terminated 65-byte buffer.
void copyColumn(char (&dst)[65], const char (&column)[64]) {
  std::memcpy(dst, column, sizeof(column));
  dst[64] = '\0';
}

}  // namespace

extern "C" void* ZEPDC_DataComputer_timer(void* arg) {
  static_cast<ZEPDC_DataComputer*>(arg)->timer();
  return nullptr;
}

ZEPDC_DataComputer::ZEPDC_DataComputer(bool startTimer)
    : root_(new ZEPDCFN_FilterNode("")),
      mcList_(new ZEPLLST_LinkedList),
      timerState_(TIMER_RUNNING),
      timerThread_(),
      timerStarted_(false) {
  OSB1_InitializeLock(&lock_);
  if (!startTimer) {
    timerState_ = TIMER_STOPPED;
    return;
  }
  int rc = pthread_create(&timerThread_, nullptr, ZEPDC_DataComputer_timer, this);
  if (rc != 0) {
    TRK1_Trace(&zepdc_unit, TRK1_ERROR, "ZEP00152E Timer thread creation error, rc =%d\n", rc);
    timerState_ = TIMER_STOPPED;
    return;
  }
  timerStarted_ = true;
}

ZEPDC_DataComputer::~ZEPDC_DataComputer() {
  {
    std::lock_guard<std::mutex> guard(timerMutex_);
    if (timerState_ == TIMER_RUNNING) timerState_ = TIMER_STOP_REQUESTED;
  }
  timerWake_.notify_all();
  if (timerStarted_) pthread_join(timerThread_, nullptr);
  {
    OSB1_ScopedLock guard(&lock_);
    for (ZEPLELEM_listElem* e = mcList_->front(); e != nullptr; e = mcList_->next(e)) {
      delete counterOf(e);
    }
    mcIndex_.clear();
    delete mcList_;
    mcList_ = nullptr;
    delete root_;  // the nodes and the tree's payload elements
    root_ = nullptr;
  }
}

ZEPLLST_LinkedList* ZEPDC_DataComputer::getList() { return root_->getChildren(); }
ZEPLLST_LinkedList* ZEPDC_DataComputer::getMCList() { return mcList_; }

int16_t ZEPDC_DataComputer::timerState() {
  std::lock_guard<std::mutex> guard(timerMutex_);
  return timerState_;
}

ZEPPELEM_PayloadElement* ZEPDC_DataComputer::findMC(const char* clientAddress, const char* service,
                                                    const char* operation, int32_t interval,
                                                    int32_t limit, uint8_t comparator,
                                                    const char* originNode,
                                                    const char* situationName) {
  const std::string key = createKey(clientAddress, service, operation,
                                    ZEPDCMC_MessageCounter::normalizeInterval(interval), limit,
                                    comparator, originNode, situationName);
  // Equal keys do not prove equal situations: compare the values as well.
  auto range = mcIndex_.equal_range(std::string_view(key));
  for (auto it = range.first; it != range.second; ++it) {
    if (counterOf(it->second)
            ->isSituation(clientAddress, service, operation, interval, limit, comparator,
                          originNode, situationName)) {
      return it->second;
    }
  }
  return nullptr;
}

void ZEPDC_DataComputer::removeFromMCList(ZEPPELEM_PayloadElement* element) {
  auto range = mcIndex_.equal_range(std::string_view(counterOf(element)->getKey()));
  for (auto it = range.first; it != range.second; ++it) {
    if (it->second == element) {
      mcIndex_.erase(it);
      break;
    }
  }
  mcList_->remove(element);
  delete element;
}

bool ZEPDC_DataComputer::CreateSituation(const char* clientAddress, const char* service,
                                         const char* operation, int32_t interval, int32_t limit,
                                         uint8_t comparator, const char* originNode,
                                         const char* situationName) {
  TRK1_FlowScope flow(&zepdc_unit, "CreateSituation");
  if (anyNull(clientAddress, service, operation, originNode, situationName)) {
    TRK1_Trace(&zepdc_unit, TRK1_ERROR, "NULL is not a valid parameter\n");
    return flow.exitWith(false);
  }
  if (std::strcmp(service, "*") == 0 && std::strcmp(operation, "*") != 0) {
    TRK1_Trace(&zepdc_unit, TRK1_ERROR, "Service Name cannot be * when Operation Name is not *\n");
    return flow.exitWith(false);
  }
  if (!ZEPDCMC_MessageCounter::isAcceptableInterval(interval)) {
    TRK1_Trace(&zepdc_unit, TRK1_ERROR, "Interval of %d seconds is longer than one day\n",
               interval);
    return flow.exitWith(false);
  }

  OSB1_ScopedLock guard(&lock_);
  if (findMC(clientAddress, service, operation, interval, limit, comparator, originNode,
             situationName) != nullptr) {
    TRK1_Trace(&zepdc_unit, TRK1_DETAIL, "Situation Already Exists\n");
    return flow.exitWith(false);
  }
  ZEPDCFN_FilterNode* opNode = root_->findOrCreateChild(clientAddress)
                                   ->findOrCreateChild(service)
                                   ->findOrCreateChild(operation);
  ZEPLLST_LinkedList* payloads = opNode->getChildren();
  for (ZEPLELEM_listElem* e = payloads->front(); e != nullptr; e = payloads->next(e)) {
    if (counterOf(e)->isSituation(clientAddress, service, operation, interval, limit, comparator,
                                  originNode, situationName)) {
      TRK1_Trace(&zepdc_unit, TRK1_ERROR, "Situation already exists but is not on the MC List\n");
      return flow.exitWith(false);
    }
  }
  auto* counter = new ZEPDCMC_MessageCounter(clientAddress, service, operation, interval, limit,
                                             comparator, originNode, situationName);
  payloads->push_back(new ZEPPELEM_PayloadElement(counter));
  auto* mcElement = new ZEPPELEM_PayloadElement(counter);
  mcList_->push_back(mcElement);
  mcIndex_.emplace(std::string_view(counter->getKey()), mcElement);
  return flow.exitWith(true);
}

bool ZEPDC_DataComputer::DeleteSituation(const char* clientAddress, const char* service,
                                         const char* operation, int32_t interval, int32_t limit,
                                         uint8_t comparator, const char* originNode,
                                         const char* situationName) {
  TRK1_FlowScope flow(&zepdc_unit, "DeleteSituation");
  if (anyNull(clientAddress, service, operation, originNode, situationName)) {
    TRK1_Trace(&zepdc_unit, TRK1_ERROR, "NULL is not a valid parameter\n");
    return flow.exitWith(false);
  }
  OSB1_ScopedLock guard(&lock_);
  ZEPPELEM_PayloadElement* mcElement = findMC(clientAddress, service, operation, interval, limit,
                                              comparator, originNode, situationName);
  if (mcElement == nullptr) {
    TRK1_Trace(&zepdc_unit, TRK1_ERROR, "Situation does not exist\n");
    return flow.exitWith(false);
  }
  ZEPDCMC_MessageCounter* counter = counterOf(mcElement);
  removeFromMCList(mcElement);

  ZEPDCFN_FilterNode* addrNode = root_->findChild(clientAddress);
  ZEPDCFN_FilterNode* svcNode = addrNode == nullptr ? nullptr : addrNode->findChild(service);
  ZEPDCFN_FilterNode* opNode = svcNode == nullptr ? nullptr : svcNode->findChild(operation);
  ZEPLELEM_listElem* treeElement = nullptr;
  if (opNode != nullptr) {
    ZEPLLST_LinkedList* payloads = opNode->getChildren();
    for (ZEPLELEM_listElem* e = payloads->front(); e != nullptr; e = payloads->next(e)) {
      if (counterOf(e) == counter) {
        treeElement = e;
        break;
      }
    }
  }
  // No element refers to the counter once it left the MC list and the tree.
  delete counter;
  if (treeElement == nullptr) {
    TRK1_Trace(&zepdc_unit, TRK1_ERROR, "%s\n",
               addrNode == nullptr  ? "IP node does not exist"
               : svcNode == nullptr ? "Service node does not exist"
               : opNode == nullptr  ? "Operation node does not exist"
                                    : "MessageCounter node does not exist");
    return flow.exitWith(false);
  }
  opNode->getChildren()->remove(treeElement);
  delete treeElement;
  // Intermediate nodes live exactly while they have children.
  if (opNode->getChildren()->empty()) svcNode->deleteChild(opNode);
  if (svcNode->getChildren()->empty()) addrNode->deleteChild(svcNode);
  if (addrNode->getChildren()->empty()) root_->deleteChild(addrNode);
  return flow.exitWith(true);
}

int ZEPDC_DataComputer::collectSituations(ZEPLLST_LinkedList* lists[6], const char* clientAddress,
                                          const char* service, const char* operation) const {
  int count = 0;
  auto add = [&](const ZEPDCFN_FilterNode* opNode) {
    if (opNode == nullptr) return;
    ZEPLLST_LinkedList* list = const_cast<ZEPDCFN_FilterNode*>(opNode)->getChildren();
    // A value that is itself "*" reaches the same node along two paths.
    for (int i = 0; i < count; ++i) {
      if (lists[i] == list) return;
    }
    lists[count++] = list;
  };
  for (const char* address : {clientAddress, "*"}) {
    const ZEPDCFN_FilterNode* addrNode = root_->findChild(address);
    if (addrNode == nullptr) continue;
    if (const ZEPDCFN_FilterNode* svcNode = addrNode->findChild(service)) {
      add(svcNode->findChild(operation));
      add(svcNode->findChild("*"));
    }
    if (const ZEPDCFN_FilterNode* anySvc = addrNode->findChild("*")) {
      add(anySvc->findChild("*"));
    }
  }
  return count;
}

ZEPLLST_LinkedList** ZEPDC_DataComputer::FindSituations(int* count, const char* clientAddress,
                                                        const char* service,
                                                        const char* operation) {
  int found = 0;
  ZEPLLST_LinkedList* lists[6];
  if (clientAddress == nullptr || service == nullptr || operation == nullptr) {
    TRK1_Trace(&zepdc_unit, TRK1_ERROR, "NULL parameter is invalid\n");
  } else {
    found = collectSituations(lists, clientAddress, service, operation);
  }
  if (count != nullptr) *count = found;
  if (found == 0) return nullptr;
  auto** result = new ZEPLLST_LinkedList*[found];
  std::copy(lists, lists + found, result);
  return result;
}

bool ZEPDC_DataComputer::Increment(const char* clientAddress, const char* service,
                                   const char* operation) {
  if (clientAddress == nullptr || service == nullptr || operation == nullptr) {
    TRK1_Trace(&zepdc_unit, TRK1_ERROR, "NULL parameter is invalid\n");
    return true;
  }
  OSB1_ScopedLock guard(&lock_);
  ZEPLLST_LinkedList* lists[6];
  const int count = collectSituations(lists, clientAddress, service, operation);
  for (int i = 0; i < count; ++i) {
    for (ZEPLELEM_listElem* e = lists[i]->front(); e != nullptr; e = lists[i]->next(e)) {
      counterOf(e)->Increment();
    }
  }
  return true;
}

bool ZEPDC_DataComputer::Increment(const ZEPMELEM_MetricLine* line) {
  if (line == nullptr || line->metricsRow.msgloc != 2) return true;
  // Local buffers rather than members: any thread may count a line.
  char address[65];
  char service[65];
  char operation[65];
  copyColumn(address, line->metricsRow.rmipaddr);
  copyColumn(service, line->metricsRow.portname);
  copyColumn(operation, line->metricsRow.opname);
  return Increment(address, service, operation);
}

void ZEPDC_DataComputer::accept(ZEPSINK_Record& record) {
  if (record.line.timeSeconds > ZEPSHARED_agentData::dcaStartTime) Increment(&record.line);
}

bool ZEPDC_DataComputer::Poll() {
  TRK1_FlowScope flow(&zepdc_unit, "Poll");
  OSB1_ScopedLock guard(&lock_);
  for (ZEPLELEM_listElem* e = mcList_->front(); e != nullptr; e = mcList_->next(e)) {
    counterOf(e)->AdvanceCell();
  }
  return flow.exitWith(true);
}

void ZEPDC_DataComputer::GetCDT(ZEPLLST_LinkedList* list) {
  TRK1_FlowScope flow(&zepdc_unit, "GetCDT");
  OSB1_ScopedLock guard(&lock_);
  if (list == nullptr) {
    TRK1_Trace(&zepdc_unit, TRK1_ERROR, "NULL is not a valid input\n");
    return;
  }
  for (ZEPLELEM_listElem* e = mcList_->front(); e != nullptr; e = mcList_->next(e)) {
    auto* row = new zep_zepmatt_data_t;
    counterOf(e)->fillRow(row, false);
    list->push_back(new ZEPPELEM_PayloadElement(new ZEPDCROW_DataRow(row)));
  }
}

void ZEPDC_DataComputer::timer() {
  for (;;) {
    const time_t t0 = ZEPPORT::now();
    if (timerState() != TIMER_RUNNING) break;
    Poll();
    time_t remaining = TIMER_PERIOD_SECONDS - (ZEPPORT::now() - t0);
    if (remaining < 0) remaining = 0;
    if (remaining > TIMER_PERIOD_SECONDS) remaining = TIMER_PERIOD_SECONDS;
    std::unique_lock<std::mutex> wait(timerMutex_);
    timerWake_.wait_for(wait, std::chrono::seconds(remaining),
                        [this] { return timerState_ != TIMER_RUNNING; });
  }
  {
    std::lock_guard<std::mutex> guard(timerMutex_);
    timerState_ = TIMER_STOPPED;
  }
  TRK1_Trace(&zepdc_unit, TRK1_DETAIL, "Timer kill flag detected\n");
}
