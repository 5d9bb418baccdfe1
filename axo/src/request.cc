// The in-process request API: catalogue, queries, situations, the event log,
// the situation timer and action commands.
//
// Lock order: a situation's run mutex, then (inside the agent) the agent's
// locks, then a manager lock, then the leaf mutexes of this module
// (catalogue, situation list, situation state, event log). The run mutex is
// never taken while any other lock is held.
#include "axo/request.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

#include "axo/axo.h"
#include "axo/osb1.h"
#include "axo/trk1.h"
#include "axo/vexor.h"
#include "axo_internal.h"

TRK1_UNIT(request_unit, "AXOREQ");

namespace axo {
namespace {

using axo_internal::CopyBounded;
using axo_internal::Upper;

constexpr size_t kMaxEvents = 10000;
constexpr size_t kMaxValueLength = 1024;
constexpr const char kCommandPrefix[] = "ACT";

// --- catalogue -------------------------------------------------------------

struct Catalogue {
  std::mutex mu;
  std::map<TableManager*, TableDescription> tables;
};

Catalogue& Cat() {
  static Catalogue* c = new Catalogue;  // never destroyed: used at exit
  return *c;
}

// Fills a request's table fields from the manager.
void Address(RequestDetail* request, TableManager* manager) {
  CopyBounded(request->application, sizeof(request->application), manager->GetApplication());
  CopyBounded(request->table, sizeof(request->table), manager->GetTable());
}

// Asks a probe sampler for the columns and checks that every column lies
// inside the row record with a width that fits its type.
Status Probe(TableManager* manager, TableDescription* out) {
  RequestDetail request;
  ContextInfo context;
  Address(&request, manager);
  context.created = AXO_Now();
  vexor* v = manager->CreateVexor(&request, &context);
  if (v == nullptr) {
    return Status::Failed(std::string("table ") + manager->GetTable() + " cannot create a sampler");
  }
  TableDescription d;
  d.application = manager->GetApplication();
  d.table = manager->GetTable();
  bool held = true;
  int n = v->NumColumns();
  for (int i = 0; i < n && held; ++i) {
    ColumnInfo info{};
    if (v->GetColumnInfo(&info, i) != 0 || info.name == nullptr) {
      held = false;
      break;
    }
    bool width_ok = (info.type == COLUMN_TYPE_TEXT && info.width > 0) ||
                    (info.type == COLUMN_TYPE_SHORT && info.width == 2) ||
                    (info.type == COLUMN_TYPE_LONG && info.width == 4);
    if (!width_ok || info.offset + info.width > v->GetRowSize()) {
      held = false;
      break;
    }
    d.columns.push_back(
        ColumnDescription{Upper(info.name), info.name, info.type, info.width, info.offset});
  }
  delete v;
  if (!held) {
    return Status::Failed(std::string("table ") + manager->GetTable() +
                          " describes a column it cannot hold");
  }
  *out = std::move(d);
  return Status::OK();
}

Status Describe(const std::string& table, TableManager** manager_out, TableDescription* out) {
  TableManager* manager = AXO_FindTableManager(table.c_str());
  if (manager == nullptr) {
    return Status::NotFound("unknown table: " + table);
  }
  *manager_out = manager;
  Catalogue& c = Cat();
  {
    std::lock_guard<std::mutex> guard(c.mu);
    auto it = c.tables.find(manager);
    if (it != c.tables.end()) {
      *out = it->second;
      return Status::OK();
    }
  }
  TableDescription d;
  Status status = Probe(manager, &d);  // no lock held: calls into the agent
  if (!status.ok()) return status;
  std::lock_guard<std::mutex> guard(c.mu);
  c.tables[manager] = d;
  *out = std::move(d);
  return Status::OK();
}

// --- filter terms ---------------------------------------------------------------

// Converts text terms into filter terms of `request`, using the columns of
// the table to pick each value's data type.
Status BuildTerms(const TableDescription& d, const std::vector<FilterTerm>& terms,
                  RequestDetail* request) {
  for (const FilterTerm& t : terms) {
    std::string attribute = Upper(t.attribute);
    auto col = std::find_if(d.columns.begin(), d.columns.end(),
                            [&](const ColumnDescription& c) { return c.attribute == attribute; });
    if (col == d.columns.end()) {
      return Status::BadRequest("unknown attribute " + t.attribute + " in table " + d.table);
    }
    _IntfOper oper;
    if (!axo_internal::ParseOperator(t.op, &oper)) {
      return Status::BadRequest("unknown operator " + t.op + " for " + attribute);
    }
    short logical = t.orWithPrevious ? FQX1_OR : FQX1_AND;
    unsigned int rc;
    if (col->type == COLUMN_TYPE_TEXT) {
      if (t.value.size() > kMaxValueLength || t.value.find('\0') != std::string::npos) {
        return Status::BadRequest("bad text value for " + attribute);
      }
      rc = request->AddFilterTerm(logical, oper, attribute.c_str(), FQX1_CSTRING, t.value.data(),
                                  static_cast<int>(t.value.size()));
    } else if (col->type == COLUMN_TYPE_SHORT) {
      long long v;
      if (!axo_internal::ParseInteger(t.value, SHRT_MIN, SHRT_MAX, &v)) {
        return Status::BadRequest("bad 16-bit integer value for " + attribute + ": " + t.value);
      }
      int16_t s = static_cast<int16_t>(v);
      rc = request->AddFilterTerm(logical, oper, attribute.c_str(), FQX1_SMALL, &s, 2);
    } else {
      long long v;
      if (!axo_internal::ParseInteger(t.value, INT32_MIN, INT32_MAX, &v)) {
        return Status::BadRequest("bad integer value for " + attribute + ": " + t.value);
      }
      int32_t l = static_cast<int32_t>(v);
      rc = request->AddFilterTerm(logical, oper, attribute.c_str(), FQX1_INTEGER, &l, 4);
    }
    if (rc != 0) {
      return Status::BadRequest("bad filter term for " + attribute);
    }
  }
  return Status::OK();
}

// The subnodes a request is for: the requested ones in their registered
// form when registered, every registered subnode when none is requested.
std::vector<std::string> ResolveSubnodes(const std::vector<std::string>& requested) {
  std::vector<AXO_SubnodeInfo> registered = AXO_ListSubnodes();
  std::vector<std::string> out;
  if (requested.empty()) {
    for (const AXO_SubnodeInfo& s : registered) out.push_back(s.name);
    return out;
  }
  for (const std::string& r : requested) {
    std::string_view wanted = axo_internal::TrimBlanks(r);
    auto it = std::find_if(registered.begin(), registered.end(), [&](const AXO_SubnodeInfo& s) {
      return axo_internal::TrimBlanks(s.name) == wanted;
    });
    out.push_back(it != registered.end() ? it->name : r);
  }
  return out;
}

// --- situations -------------------------------------------------------------------

struct Situation {
  SituationSpec spec;
  RequestDetail request;
  ContextInfo context;
  AXO_SituationState state;
  TableManager* manager = nullptr;
  vexor* sampler = nullptr;
  std::mutex runMu;      // serialises sampling and deletion
  bool deleted = false;  // guarded by runMu
  time_t nextDue = 0;    // guarded by runMu
};

struct Situations {
  std::mutex mu;
  std::vector<std::shared_ptr<Situation>> list;  // creation order
  std::set<std::string> names;                   // includes ones being created
};

Situations& Sits() {
  static Situations* s = new Situations;
  return *s;
}

struct EventLog {
  std::mutex mu;
  std::deque<Event> events;
  int64_t nextId = 1;
};

EventLog& Log() {
  static EventLog* log = new EventLog;
  return *log;
}

void ReleaseName(const std::string& name) {
  Situations& s = Sits();
  std::lock_guard<std::mutex> guard(s.mu);
  s.names.erase(name);
}

// Unlinks and destroys the sampler of `sit`. Requires sit->runMu.
void DestroySampler(Situation* sit) {
  if (sit->sampler == nullptr) return;
  {
    OSB1_ScopedLock guard(sit->manager->GetLock());
    sit->manager->GetVexorList()->Remove(sit->sampler);
  }
  delete sit->sampler;  // no framework lock held: the agent takes its own
  sit->sampler = nullptr;
}

// Takes one sample for a sampled situation. Requires sit->runMu.
void SampleSituation(Situation* sit, time_t now) {
  vexor* v = sit->sampler;
  sit->request.subnodes = ResolveSubnodes({});
  v->ClearRows();
  v->ResetGetSubnode();
  unsigned int rc = v->TakeSample();
  if (rc != 0 && TRK1_On(&request_unit, TRK1_ERROR)) {
    TRK1_Printf(&request_unit, __LINE__, "Situation %s: sample of %s returned %u",
                sit->spec.name.c_str(), sit->spec.table.c_str(), rc);
  }
  if (rc == AXO_RC_BUSY) {
    // Nothing was sampled: the state stays until the next interval's sample.
    v->ClearRows();
    return;
  }
  axo_internal::SetSituationState(&sit->state, v->count > 0, v->GetRow(0), now);
  // Many situations may sample large tables: only the one sampling holds rows.
  v->ReleaseRows();
}

// True when `name` follows the rule of SituationSpec::name.
bool ValidSituationName(const std::string& name) {
  return !name.empty() && name.size() <= 32 && name != "." && name != ".." &&
         std::all_of(name.begin(), name.end(), [](char c) {
           return isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '.' || c == '-';
         });
}

// --- the situation timer ------------------------------------------------------------

axo_internal::EverySecond& Tmr() {
  static auto* t = new axo_internal::EverySecond;  // never destroyed: used at exit
  return *t;
}

}  // namespace

// --- catalogue and queries ------------------------------------------------------------

std::vector<TableDescription> listTables() {
  std::vector<TableDescription> out;
  for (const std::string& name : AXO_ListTables()) {
    TableDescription d;
    if (describeTable(name, &d).ok()) out.push_back(std::move(d));
  }
  return out;
}

Status describeTable(const std::string& table, TableDescription* out) {
  TableManager* manager;
  return Describe(table, &manager, out);
}

Status runQuery(const Query& query, std::vector<Row>* rows) {
  rows->clear();
  TableManager* manager;
  TableDescription d;
  Status status = Describe(query.table, &manager, &d);
  if (!status.ok()) return status;

  RequestDetail request;
  ContextInfo context;
  Address(&request, manager);
  request.history = query.history;
  request.subnodes = ResolveSubnodes(query.subnodes);
  status = BuildTerms(d, query.terms, &request);
  if (!status.ok()) return status;
  context.created = AXO_Now();

  vexor* v = manager->CreateVexor(&request, &context);
  if (v == nullptr) {
    return Status::Failed("table " + query.table + " cannot create a sampler");
  }
  unsigned int rc = v->TakeSample();
  if (rc != 0 && TRK1_On(&request_unit, TRK1_DETAIL)) {
    TRK1_Printf(&request_unit, __LINE__, "Sample of %s returned %u with %d rows",
                query.table.c_str(), rc, v->count);
  }
  if (rc == AXO_RC_BUSY) {
    v->ClearRows();
    delete v;
    return Status::Unavailable(axo_internal::BusyError());
  }
  rows->reserve(v->count);
  for (int i = 0; i < v->count; ++i) {
    rows->push_back(axo_internal::DecodeRow(d.columns, v->GetRow(i)));
  }
  v->ClearRows();
  delete v;
  return Status::OK();
}

// --- situations -------------------------------------------------------------------------

Status createSituation(const SituationSpec& spec) {
  if (!ValidSituationName(spec.name)) {
    return Status::BadRequest(
        "a situation name has 1 to 32 characters, each a letter, a digit, '_', '.' or "
        "'-' (and is not '.' or '..')");
  }
  if (spec.interval < 1) {
    return Status::BadRequest("a situation interval is at least 1 second");
  }
  auto sit = std::make_shared<Situation>();
  sit->spec = spec;
  TableDescription d;
  Status status = Describe(spec.table, &sit->manager, &d);
  if (!status.ok()) return status;

  RequestDetail& request = sit->request;
  Address(&request, sit->manager);
  request.sampleType = AXO_SAMPLE_SITUATION;
  CopyBounded(request.situationName, sizeof(request.situationName), spec.name);
  request.interval = spec.interval;
  status = BuildTerms(d, spec.terms, &request);
  if (!status.ok()) return status;

  AXO_SituationState& state = sit->state;
  state.name = spec.name;
  state.table = spec.table;
  state.columns = d.columns;
  for (const ColumnDescription& c : d.columns) {
    if (c.attribute == "SITNAME" && c.type == COLUMN_TYPE_TEXT) {
      state.sitnameOffset = c.offset;
      state.sitnameWidth = c.width;
      state.eventDriven = true;  // the agent pushes this table's rows
    }
  }
  if (!state.eventDriven && spec.interval < kMinSampledInterval) {
    return Status::BadRequest("a situation on table " + spec.table +
                              " is sampled every interval: the interval "
                              "must be at least " +
                              std::to_string(kMinSampledInterval) + " seconds");
  }

  const int max_situations = AXO_GetOptions().maxSituations;
  Situations& s = Sits();
  {
    std::lock_guard<std::mutex> guard(s.mu);
    if (s.names.size() >= static_cast<size_t>(max_situations) && !s.names.count(spec.name)) {
      return Status::TooMany("too many situations: at most " + std::to_string(max_situations) +
                             " may exist (--max-situations); delete one first");
    }
    if (!s.names.insert(spec.name).second) {
      return Status::Conflict("situation " + spec.name + " exists");
    }
  }
  sit->context.created = AXO_Now();
  request.subnodes = ResolveSubnodes({});
  vexor* v = sit->manager->CreateVexor(&request, &sit->context);  // no lock held
  if (v == nullptr) {
    ReleaseName(spec.name);
    return Status::Failed("table " + spec.table + " cannot create a sampler");
  }
  if (!v->GetRefusal().empty()) {
    delete v;  // no framework lock held, as when a situation is deleted
    ReleaseName(spec.name);
    return Status::BadRequest(v->GetRefusal());
  }
  v->AttachSituation(&sit->state);
  sit->sampler = v;
  sit->nextDue = sit->context.created;
  {
    OSB1_ScopedLock guard(sit->manager->GetLock());
    sit->manager->GetVexorList()->Append(v);
  }
  {
    std::lock_guard<std::mutex> guard(s.mu);
    s.list.push_back(sit);
  }
  if (TRK1_On(&request_unit, TRK1_DETAIL)) {
    TRK1_Printf(&request_unit, __LINE__, "Situation %s created on %s, interval %d, %zu terms",
                spec.name.c_str(), spec.table.c_str(), spec.interval, spec.terms.size());
  }
  return Status::OK();
}

Status deleteSituation(const std::string& name) {
  std::shared_ptr<Situation> sit;
  Situations& s = Sits();
  {
    std::lock_guard<std::mutex> guard(s.mu);
    auto it = std::find_if(s.list.begin(), s.list.end(), [&](const std::shared_ptr<Situation>& e) {
      return e->spec.name == name;
    });
    if (it == s.list.end()) {
      return Status::NotFound("unknown situation: " + name);
    }
    sit = *it;
    s.list.erase(it);
  }
  {
    std::lock_guard<std::mutex> guard(sit->runMu);
    sit->deleted = true;
    DestroySampler(sit.get());
  }
  ReleaseName(name);
  if (TRK1_On(&request_unit, TRK1_DETAIL)) {
    TRK1_Printf(&request_unit, __LINE__, "Situation %s deleted", name.c_str());
  }
  return Status::OK();
}

std::vector<SituationInfo> listSituations() {
  std::vector<std::shared_ptr<Situation>> list;
  {
    Situations& s = Sits();
    std::lock_guard<std::mutex> guard(s.mu);
    list = s.list;
  }
  std::vector<SituationInfo> out;
  for (const auto& sit : list) {
    SituationInfo info;
    info.name = sit->spec.name;
    info.table = sit->spec.table;
    info.interval = sit->spec.interval;
    info.terms = sit->spec.terms;
    std::lock_guard<std::mutex> guard(sit->state.mu);
    info.raised = sit->state.raised;
    info.lastChange = sit->state.lastChange;
    out.push_back(std::move(info));
  }
  return out;
}

void pollSituations(time_t now) {
  std::vector<std::shared_ptr<Situation>> list;
  {
    Situations& s = Sits();
    std::lock_guard<std::mutex> guard(s.mu);
    list = s.list;
  }
  for (const auto& sit : list) {
    if (sit->state.eventDriven) continue;
    std::lock_guard<std::mutex> guard(sit->runMu);
    if (sit->deleted || sit->sampler == nullptr || now < sit->nextDue) continue;
    sit->nextDue = now + sit->spec.interval;
    SampleSituation(sit.get(), now);
  }
}

std::vector<Event> eventsSince(int64_t since) {
  EventLog& log = Log();
  std::lock_guard<std::mutex> guard(log.mu);
  std::vector<Event> out;
  for (const Event& e : log.events) {
    if (e.id > since) out.push_back(e);
  }
  return out;
}

Status runActionCommand(const std::string& command, long* rc, std::string* message) {
  AXO_CommandCallback callback = axo_internal::CommandCallback();
  if (callback == nullptr) {
    return Status::Failed("no action-command callback is registered");
  }
  if (command.find('\0') != std::string::npos) {
    return Status::BadRequest("a command is text without NUL characters");
  }
  VexorAutomationCapsule capsule((kCommandPrefix + command).c_str(), nullptr);
  long result = callback(&capsule);
  if (!capsule.HasResult() && result == static_cast<long>(AXO_RC_BUSY)) {
    return Status::Unavailable(axo_internal::BusyError());
  }
  *rc = capsule.HasResult() ? capsule.GetResult() : result;
  *message = capsule.GetMessage();
  return Status::OK();
}

void resetSituationsForTesting() {
  std::vector<std::string> names;
  for (const SituationInfo& info : listSituations()) names.push_back(info.name);
  for (const std::string& name : names) deleteSituation(name);
  EventLog& log = Log();
  std::lock_guard<std::mutex> guard(log.mu);
  log.events.clear();
  log.nextId = 1;
}

}  // namespace axo

// --- framework-internal ------------------------------------------------------------------

namespace axo_internal {

void ForgetTable(TableManager* manager) {
  axo::Catalogue& c = axo::Cat();
  std::lock_guard<std::mutex> guard(c.mu);
  c.tables.erase(manager);
}

axo::Row DecodeRow(const std::vector<axo::ColumnDescription>& columns, const char* row) {
  axo::Row out;
  if (row == nullptr) return out;
  out.reserve(columns.size());
  for (const axo::ColumnDescription& c : columns) {
    axo::Value v;
    const char* p = row + c.offset;
    if (c.type == COLUMN_TYPE_TEXT) {
      size_t n = static_cast<size_t>(c.width);
      while (n > 0 && (p[n - 1] == ' ' || p[n - 1] == '\0')) --n;
      v.text.assign(p, n);
    } else if (c.type == COLUMN_TYPE_SHORT) {
      int16_t s;
      memcpy(&s, p, 2);
      v.isText = false;
      v.number = s;
    } else {
      int32_t l;
      memcpy(&l, p, 4);
      v.isText = false;
      v.number = l;
    }
    out.emplace_back(c.attribute, std::move(v));
  }
  return out;
}

void SetSituationState(AXO_SituationState* state, bool raised, const char* row, time_t when) {
  {
    std::lock_guard<std::mutex> guard(state->mu);
    if (state->raised == raised) return;
    state->raised = raised;
    state->lastChange = when;
  }
  axo::Event e;
  e.time = when;
  e.situation = state->name;
  e.table = state->table;
  e.raised = raised;
  e.row = DecodeRow(state->columns, row);
  if (TRK1_On(&request_unit, TRK1_DETAIL)) {
    TRK1_Printf(&request_unit, __LINE__, "Situation %s %s", state->name.c_str(),
                raised ? "raised" : "cleared");
  }
  axo::EventLog& log = axo::Log();
  std::lock_guard<std::mutex> guard(log.mu);
  e.id = log.nextId++;
  log.events.push_back(std::move(e));
  while (log.events.size() > axo::kMaxEvents) log.events.pop_front();
}

int StartSituationTimer(std::string* error) {
  return axo::Tmr().Start(
      [] {
        OSB1_WaitLimit limit(kDataWaitMillis);  // a busy sample is tried next interval
        axo::pollSituations(AXO_Now());
      },
      "timer", error);
}

std::string BusyError() {
  char seconds[32];
  snprintf(seconds, sizeof(seconds), "%g", OSB1_WaitLimit::current() / 1000.0);
  return std::string("the agent's data stayed locked for ") + seconds +
         " s (a part of the agent is stuck or slow); try again later";
}

void StopSituationTimer() { axo::Tmr().Stop(); }

}  // namespace axo_internal
