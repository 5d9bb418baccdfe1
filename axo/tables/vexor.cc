// Table managers, samplers, their row buffers, filters and event dispatch.
#include "axo/tables/vexor.h"

#include <atomic>
#include <climits>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string_view>
#include <unordered_map>

#include "axo/base/clock.h"
#include "axo/base/text.h"
#include "axo/base/trk1.h"
#include "axo/tables/catalog.h"
#include "axo/tables/situation_state.h"

TRK1_UNIT(vexor_unit, "AXOVEXOR");

namespace {

using axo_internal::CopyBounded;
using axo_internal::TrimBlanks;

// Results of UseHandle and RKL1_Drop besides 0.
enum : int {
  kNotThisHandle = 1,   // UseHandle: the handle names another sampler
  kBeingDestroyed = 2,  // UseHandle: the sampler is being destroyed
  kNotPinned = 1,       // RKL1_Drop: unknown or unpinned handle
};

// --- handles ---------------------------------------------------------------

struct HandleTable {
  std::mutex mu;
  std::condition_variable unpinned;
  std::unordered_map<unsigned int, int> pins;  // handle -> pin count
  unsigned int next = 1;
};

HandleTable& Handles() {
  static HandleTable* table = new HandleTable;  // never destroyed: used at exit
  return *table;
}

// --- registry of managers ------------------------------------------------------

struct ManagerRegistry {
  std::mutex mu;
  std::vector<TableManager*> managers;            // registration order, one per table
  std::map<std::string, TableHistory> histories;  // by table name
};

ManagerRegistry& Registry() {
  static ManagerRegistry* registry = new ManagerRegistry;
  return *registry;
}

// --- InsertRow failure injection -------------------------------------------

std::atomic<int> g_fail_countdown{0};
std::atomic<unsigned int> g_fail_rc{AXO_RC_INJECTED};

bool InjectedInsertFailure() {
  int n = g_fail_countdown.load();
  while (n > 0) {
    if (g_fail_countdown.compare_exchange_weak(n, n - 1)) return n == 1;
  }
  return false;
}

unsigned int Compare(_IntfOper oper, int cmp) {
  switch (oper) {
    case FQX1_GE:
      return cmp >= 0;
    case FQX1_LE:
      return cmp <= 0;
    case FQX1_LT:
      return cmp < 0;
    case FQX1_GT:
      return cmp > 0;
    case FQX1_EQ:
      return cmp == 0;
    case FQX1_NE:
      return cmp != 0;
  }
  return 0;
}

// The text form of a term value for ColumnIsException; false when the
// length does not fit the data type.
bool TermText(int data_type, const char* value, int len, std::string* text) {
  switch (data_type) {
    case FQX1_CHAR:
    case FQX1_CSTRING:
      text->assign(value == nullptr ? "" : value, len);
      return true;
    case FQX1_SMALL: {
      if (len != 2) return false;
      int16_t v;
      memcpy(&v, value, 2);
      *text = std::to_string(v);
      return true;
    }
    case FQX1_INTEGER: {
      if (len != 4) return false;
      int32_t v;
      memcpy(&v, value, 4);
      *text = std::to_string(v);
      return true;
    }
    case FQX1_LONG: {
      if (len == 4) {
        int32_t v;
        memcpy(&v, value, 4);
        *text = std::to_string(v);
        return true;
      }
      if (len == 8) {
        int64_t v;
        memcpy(&v, value, 8);
        *text = std::to_string(v);
        return true;
      }
      return false;
    }
  }
  return false;
}

// Framework sampler that receives the commands that came without one.
class CommandVexor : public vexor {
 public:
  CommandVexor() : vexor(&request_, &context_, nullptr, 1, 1) {}
  unsigned int TakeSample() override { return 0; }

 private:
  RequestDetail request_;
  ContextInfo context_;
};

}  // namespace

// --- RequestDetail -----------------------------------------------------------

RequestDetail::RequestDetail() : sampleType(0), interval(0), history(false) {
  application[0] = '\0';
  table[0] = '\0';
  situationName[0] = '\0';
  secondName[0] = '\0';
}

unsigned int RequestDetail::AddFilterTerm(short logical_oper, short compare_oper,
                                          const char* column, int data_type, const void* value,
                                          int len) {
  FQX1_FILTERINFO term{};
  std::string text;
  if (column == nullptr || !CopyBounded(term.columnName, sizeof(term.columnName), column) ||
      term.columnName[0] == '\0' || !axo_internal::KnownOperator(compare_oper) || len < 0 ||
      len > SHRT_MAX || (value == nullptr && len > 0) ||
      (logical_oper != FQX1_AND && logical_oper != FQX1_OR) ||
      !TermText(data_type, static_cast<const char*>(value), len, &text)) {
    TRK1_Trace(&vexor_unit, TRK1_ERROR, "Filter term rejected: column=%s oper=%d type=%d length=%d",
               column == nullptr ? "(null)" : column, compare_oper, data_type, len);
    return AXO_RC_BAD_ARGUMENT;
  }
  termValues.emplace_back(static_cast<const char*>(value) == nullptr
                              ? std::string()
                              : std::string(static_cast<const char*>(value), len));
  termTexts.push_back(std::move(text));
  term.logicalOper = logical_oper;
  term.compareOper = compare_oper;
  term.dataType = data_type;
  term.valueLen = static_cast<short>(len);
  term.value = termValues.back().c_str();  // std::string keeps a terminator
  terms.push_back(term);
  return AXO_RC_OK;
}

// --- LinkedList ---------------------------------------------------------------

void LinkedList::Append(vexor* item) { items_.push_back(item); }

bool LinkedList::Remove(vexor* item) {
  for (auto it = items_.begin(); it != items_.end(); ++it) {
    if (*it == item) {
      items_.erase(it);
      return true;
    }
  }
  return false;
}

vexor* LinkedListIter::Next() {
  if (list_ == nullptr || next_ >= list_->items_.size()) return nullptr;
  return list_->items_[next_++];
}

// --- VexorAutomationCapsule ----------------------------------------------------

VexorAutomationCapsule::VexorAutomationCapsule(const char* text, vexor* sampler)
    : text_(text == nullptr ? "" : text), sampler_(sampler) {
  if (text_.size() < 3) text_.resize(3, ' ');
}

void VexorAutomationCapsule::SetMessage(const char* message) {
  message_ = message == nullptr ? "" : message;
}

vexor* VexorAutomationCapsule::GetVexor() const {
  if (sampler_ != nullptr) return sampler_;
  static CommandVexor* fallback = new CommandVexor;  // shared, never destroyed
  return fallback;
}

// --- vexor ------------------------------------------------------------------------

vexor::vexor(RequestDetail* request, ContextInfo* context, TableManager* manager, int row_size,
             int alloc_size)
    : flags(0),
      handle(0),
      count(0),
      allocated(0),
      allocSize(alloc_size > 0 ? alloc_size : 1),
      data(nullptr),
      request_(request),
      context_(context),
      manager_(manager),
      rowSize_(row_size > 0 ? row_size : 1) {
  HandleTable& h = Handles();
  std::lock_guard<std::mutex> guard(h.mu);
  handle = h.next++;
  if (h.next == 0) h.next = 1;
  h.pins[handle] = 0;
}

vexor::~vexor() {
  HandleTable& h = Handles();
  {
    std::unique_lock<std::mutex> guard(h.mu);
    flags |= AXO_VEXOR_DESTROYING;
    h.unpinned.wait(guard, [&] { return h.pins[handle] == 0; });
    h.pins.erase(handle);
  }
  free(data);
}

void vexor::ReleaseRows() {
  free(data);
  data = nullptr;
  count = 0;
  allocated = 0;
}

void vexor::PrintSelf() {
  if (!TRK1_On(&vexor_unit, TRK1_DUMP)) return;
  TRK1_Printf(&vexor_unit, __LINE__, "vexor @%p <%u,%u> appl=%s,table=%s,count=%d,allocated=%d",
              static_cast<void*>(this), flags, handle, GetApplication(), GetTable(), count,
              allocated);
}

int vexor::NumColumns() { return 0; }

unsigned int vexor::GetColumnInfo(ColumnInfo*, int) { return AXO_RC_BAD_COLUMN; }

unsigned int vexor::ExecuteCommand(VexorAutomationCapsule* capsule) {
  AXO_CommandCallback callback = axo_internal::CommandCallback();
  if (callback == nullptr || capsule == nullptr) return AXO_RC_BAD_ARGUMENT;
  return static_cast<unsigned int>(callback(capsule));
}

unsigned int vexor::InsertRow(const void* row) {
  if (row == nullptr) return AXO_RC_BAD_ARGUMENT;
  if (InjectedInsertFailure()) return g_fail_rc.load();
  if (count >= allocated) {
    if (allocated >= AXO_MAX_ROWS) return AXO_RC_BUFFER_FULL;
    // Geometric growth in whole multiples of allocSize.
    long long want = allocated == 0 ? allocSize : 2LL * allocated;
    want = (want + allocSize - 1) / allocSize * allocSize;
    if (want > AXO_MAX_ROWS) want = AXO_MAX_ROWS;
    void* grown = realloc(data, static_cast<size_t>(want) * rowSize_);
    if (grown == nullptr) {
      TRK1_Trace(&vexor_unit, TRK1_ERROR, "Row buffer of %s cannot grow to %lld rows", GetTable(),
                 want);
      return AXO_RC_NO_MEMORY;
    }
    data = static_cast<char*>(grown);
    allocated = static_cast<int>(want);
  }
  memcpy(data + static_cast<size_t>(count) * rowSize_, row, rowSize_);
  ++count;
  return AXO_RC_OK;
}

int vexor::CheckForException(const void* row) {
  bool passed = true;
  if (row == nullptr) {
    passed = false;
  } else if (request_ != nullptr && !request_->terms.empty()) {
    // AND binds tighter than OR: an OR term closes one alternative.
    bool any = false;
    bool group = true;
    for (size_t i = 0; i < request_->terms.size(); ++i) {
      const FQX1_FILTERINFO& term = request_->terms[i];
      if (i > 0 && term.logicalOper == FQX1_OR) {
        any = any || group;
        group = true;
      }
      if (group) {
        group = ColumnIsException(row, term.columnName, static_cast<_IntfOper>(term.compareOper),
                                  request_->termTexts[i].c_str()) != 0;
      }
    }
    passed = any || group;
  }

  // A pushed row that names this sampler's situation decides its state.
  AXO_SituationState* s = situation_;
  if (s != nullptr && s->eventDriven && s->sitnameOffset >= 0 && row != nullptr &&
      s->sitnameOffset + s->sitnameWidth <= rowSize_) {
    std::string_view sit(static_cast<const char*>(row) + s->sitnameOffset, s->sitnameWidth);
    if (TrimBlanks(sit) == s->name) {
      s->ownSeen = true;
      s->ownPassed = passed;
      s->ownRow.assign(static_cast<const char*>(row), rowSize_);
    }
  }
  return passed ? 1 : 0;
}

unsigned int vexor::ColumnIsException(const void*, const char*, _IntfOper, const char*) {
  return 0;
}

void vexor::CommandCompleted(VexorAutomationCapsule* capsule) {
  TRK1_Trace(&vexor_unit, TRK1_DETAIL, "Command completed: rc=%d", capsule->GetResult());
}

unsigned int vexor::IsException(_IntfOper oper, short value, const char* threshold) {
  return IsException(oper, static_cast<long>(value), threshold);
}

unsigned int vexor::IsException(_IntfOper oper, int value, const char* threshold) {
  return IsException(oper, static_cast<long>(value), threshold);
}

unsigned int vexor::IsException(_IntfOper oper, long value, const char* threshold) {
  long long t;
  if (threshold == nullptr || !axo_internal::ParseInteger(threshold, LLONG_MIN, LLONG_MAX, &t)) {
    return 0;
  }
  return Compare(oper, value < t ? -1 : (value > t ? 1 : 0));
}

unsigned int vexor::IsException(_IntfOper oper, const char* value, const char* threshold,
                                int length) {
  if (value == nullptr || threshold == nullptr || length < 0) return 0;
  int cmp = TrimBlanks(std::string_view(value, length)).compare(threshold);
  return Compare(oper, cmp);
}

const char* vexor::GetSubnode() {
  if (request_ == nullptr || nextSubnode_ >= request_->subnodes.size()) return nullptr;
  return request_->subnodes[nextSubnode_++].c_str();
}

void vexor::ResetGetSubnode() { nextSubnode_ = 0; }

int vexor::IsHistoryRequest() { return request_ != nullptr && request_->history ? 1 : 0; }

int vexor::GetFilterInfo(FQX1_FILTERINFO** info) {
  if (request_ == nullptr || nextTerm_ >= request_->terms.size()) {
    nextTerm_ = 0;  // the next caller starts from the first term again
    if (info != nullptr) *info = nullptr;
    return FQX1_NO_MORE_TERMS;
  }
  if (info != nullptr) *info = &request_->terms[nextTerm_];
  ++nextTerm_;
  return 0;
}

void vexor::DumpThresholds() {
  if (request_ == nullptr || !TRK1_On(&vexor_unit, TRK1_DETAIL)) return;
  for (size_t i = 0; i < request_->terms.size(); ++i) {
    const FQX1_FILTERINFO& t = request_->terms[i];
    TRK1_Printf(&vexor_unit, __LINE__, "\tthreshold %zu: %s %s oper=%d type=%d value=\"%s\"", i,
                t.logicalOper == FQX1_OR ? "OR" : "AND", t.columnName, t.compareOper, t.dataType,
                request_->termTexts[i].c_str());
  }
}

int vexor::GetSampleType() const { return request_ != nullptr ? request_->sampleType : 0; }
const char* vexor::GetSituationName() const {
  return request_ != nullptr ? request_->situationName : "";
}
const char* vexor::GetSecondName() const { return request_ != nullptr ? request_->secondName : ""; }
int vexor::GetSampleInterval() const { return request_ != nullptr ? request_->interval : 0; }
const char* vexor::GetApplication() const {
  return request_ != nullptr ? request_->application : "";
}
const char* vexor::GetTable() const { return request_ != nullptr ? request_->table : ""; }

int vexor::UseHandle(unsigned int h) {
  if (h != handle) return kNotThisHandle;
  HandleTable& t = Handles();
  std::lock_guard<std::mutex> guard(t.mu);
  if (flags & AXO_VEXOR_DESTROYING) return kBeingDestroyed;
  ++t.pins[handle];
  return 0;
}

int RKL1_Drop(unsigned int h) {
  HandleTable& t = Handles();
  std::lock_guard<std::mutex> guard(t.mu);
  auto it = t.pins.find(h);
  if (it == t.pins.end() || it->second == 0) return kNotPinned;
  if (--it->second == 0) t.unpinned.notify_all();
  return 0;
}

unsigned int vexor::Dispatch() {
  AXO_SituationState* s = situation_;
  if (s == nullptr || !s->ownSeen) return AXO_RC_OK;
  s->ownSeen = false;
  if (s->record != nullptr) s->record(s, s->ownPassed, s->ownRow.data(), AXO_Now());
  return AXO_RC_OK;
}

void vexor::FinishedAutomationCommand(VexorAutomationCapsule* capsule) {
  if (capsule == nullptr) return;
  capsule->finished_ = true;
  CommandCompleted(capsule);
}

const char* vexor::GetRow(int index) const {
  if (index < 0 || index >= count || data == nullptr) return nullptr;
  return data + static_cast<size_t>(index) * rowSize_;
}

namespace {
std::atomic<AXO_CommandCallback> g_command_callback{nullptr};
}  // namespace

void axo_internal::SetCommandCallback(AXO_CommandCallback callback) {
  g_command_callback.store(callback);
}

AXO_CommandCallback axo_internal::CommandCallback() { return g_command_callback.load(); }

void AXO_FailInsertRowForTesting(int nth, unsigned int rc) {
  g_fail_rc.store(rc == 0 ? static_cast<unsigned int>(AXO_RC_INJECTED) : rc);
  g_fail_countdown.store(nth > 0 ? nth : 0);
}

// --- TableManager -------------------------------------------------------------------

TableManager::TableManager(const char* application, const char* table) : status_(AXO_RC_OK) {
  bool ok = application != nullptr && table != nullptr &&
            CopyBounded(application_, sizeof(application_), application) &&
            CopyBounded(table_, sizeof(table_), table) && table_[0] != '\0';
  if (!ok) {
    status_ = AXO_RC_BAD_ARGUMENT;
    if (application == nullptr) application_[0] = '\0';
    if (table == nullptr) table_[0] = '\0';
  }
  OSB1_InitializeLock(&lock_);
}

TableManager::~TableManager() {
  axo_internal::ForgetTable(this);
  ManagerRegistry& r = Registry();
  std::lock_guard<std::mutex> guard(r.mu);
  for (auto it = r.managers.begin(); it != r.managers.end(); ++it) {
    if (*it == this) {
      r.managers.erase(it);
      break;
    }
  }
}

void TableManager::Shutdown() {}

unsigned int TableManager::RegisterWithManager(TableManager* manager) {
  if (manager == nullptr || manager->status_ != AXO_RC_OK) return AXO_RC_BAD_ARGUMENT;
  ManagerRegistry& r = Registry();
  std::lock_guard<std::mutex> guard(r.mu);
  for (TableManager*& m : r.managers) {
    if (strcmp(m->table_, manager->table_) == 0) {
      if (m != manager) {
        TRK1_Trace(&vexor_unit, TRK1_DETAIL, "Table %s: a new manager replaces the previous one",
                   manager->table_);
      }
      m = manager;
      return AXO_RC_OK;
    }
  }
  r.managers.push_back(manager);
  TRK1_Trace(&vexor_unit, TRK1_DETAIL, "Table %s.%s registered", manager->application_,
             manager->table_);
  return AXO_RC_OK;
}

unsigned int AXO_DeclareHistory(const char* table, const TableHistory& history) {
  if (AXO_FindTableManager(table) == nullptr) return AXO_RC_BAD_ARGUMENT;
  ManagerRegistry& r = Registry();
  std::lock_guard<std::mutex> guard(r.mu);
  r.histories[table] = history;
  return AXO_RC_OK;
}

TableHistory AXO_TableHistory(const std::string& table) {
  ManagerRegistry& r = Registry();
  std::lock_guard<std::mutex> guard(r.mu);
  auto found = r.histories.find(table);
  return found != r.histories.end() ? found->second : TableHistory();
}

TableManager* AXO_FindTableManager(const char* table) {
  if (table == nullptr) return nullptr;
  ManagerRegistry& r = Registry();
  std::lock_guard<std::mutex> guard(r.mu);
  for (TableManager* m : r.managers) {
    if (strcmp(m->GetTable(), table) == 0) return m;
  }
  return nullptr;
}

std::vector<std::string> AXO_ListTables() {
  ManagerRegistry& r = Registry();
  std::lock_guard<std::mutex> guard(r.mu);
  std::vector<std::string> names;
  for (TableManager* m : r.managers) names.push_back(m->GetTable());
  return names;
}
