// The in-process request API: queries, situations, the event log and
// action commands.
//
// Lock order: a situation's run mutex, then (inside the agent) the agent's
// locks, then a manager lock, then the leaf mutexes of this module
// (catalogue, situation list, situation state, event log). The run mutex is
// never taken while any other lock is held.
#include "axo/requests/request.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <set>
#include <thread>

#include "axo/base/clock.h"
#include "axo/base/files.h"
#include "axo/base/osb1.h"
#include "axo/base/text.h"
#include "axo/base/trk1.h"
#include "axo/base/wait.h"
#include "axo/metrics/metrics.h"
#include "axo/process/axo.h"
#include "axo/tables/catalog.h"
#include "axo/tables/situation_state.h"
#include "axo/tables/vexor.h"

TRK1_UNIT(request_unit, "AXOREQ");

namespace axo {
namespace {

using axo_internal::CopyBounded;
using axo_internal::Upper;

constexpr size_t kMaxEvents = 10000;
constexpr const char kCommandPrefix[] = "ACT";

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

// Moves `state` to `raised`; when that is a change, records an event with
// `row` (a row record of the situation's table, or null) at `when`. The
// `record` of every situation's state.
void SetSituationState(AXO_SituationState* state, bool raised, const char* row, time_t when) {
  {
    std::lock_guard<std::mutex> guard(state->mu);
    if (state->raised == raised) return;
    state->raised = raised;
    state->lastChange = when;
  }
  Event e;
  e.time = when;
  e.situation = state->name;
  e.table = state->table;
  e.raised = raised;
  e.row = axo_internal::DecodeRow(state->columns, row);
  TRK1_Trace(&request_unit, TRK1_DETAIL, "Situation %s %s", state->name.c_str(),
             raised ? "raised" : "cleared");
  EventLog& log = Log();
  std::lock_guard<std::mutex> guard(log.mu);
  e.id = log.nextId++;
  log.events.push_back(std::move(e));
  while (log.events.size() > kMaxEvents) log.events.pop_front();
}

// The zep_situations gauges, set at each scrape.
void CollectSituations() {
  AXO_GAUGE_FAMILY(situations, "zep_situations", "Situations by state.", {"state"});
  int raised = 0, cleared = 0;
  for (const SituationInfo& s : listSituations()) ++(s.raised ? raised : cleared);
  situations.gauge({"raised"}).Set(raised);
  situations.gauge({"cleared"}).Set(cleared);
}

// Every program that uses the request API scrapes its situations too.
const bool g_collector_registered = (metrics::AddCollector(CollectSituations), true);

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
  if (rc != 0) {
    TRK1_Trace(&request_unit, TRK1_ERROR, "Situation %s: sample of %s returned %u",
               sit->spec.name.c_str(), sit->spec.table.c_str(), rc);
  }
  if (rc == AXO_RC_BUSY) {
    // Nothing was sampled: the state stays until the next interval's sample.
    v->ClearRows();
    return;
  }
  SetSituationState(&sit->state, v->count > 0, v->GetRow(0), now);
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

}  // namespace

// --- catalogue and queries ------------------------------------------------------------

Status runQueryRows(const Query& query, size_t* count, RowSource* rows) {
  *count = 0;
  *rows = nullptr;
  TableManager* manager;
  TableDescription d;
  Status status = axo_internal::DescribeTable(query.table, &manager, &d);
  if (!status.ok()) return status;

  RequestDetail request;
  ContextInfo context;
  axo_internal::AddressRequest(&request, manager);
  request.history = query.history;
  request.subnodes = ResolveSubnodes(query.subnodes);
  status = axo_internal::BuildTerms(d, query.terms, &request);
  if (!status.ok()) return status;
  context.created = AXO_Now();

  // The sampler ends with the last reader of its rows.
  std::shared_ptr<vexor> v(manager->CreateVexor(&request, &context), [](vexor* s) {
    if (s == nullptr) return;
    s->ClearRows();
    delete s;
  });
  if (v == nullptr) {
    return Status::Failed("table " + query.table + " cannot create a sampler");
  }
  unsigned int rc = v->TakeSample();
  if (rc != 0) {
    TRK1_Trace(&request_unit, TRK1_DETAIL, "Sample of %s returned %u with %d rows",
               query.table.c_str(), rc, v->count);
  }
  if (rc == AXO_RC_BUSY) return Status::Unavailable(axo_internal::BusyError());
  *count = static_cast<size_t>(std::max(v->count, 0));
  *rows = [v, columns = std::move(d.columns), next = 0](Row* row) mutable {
    if (next >= v->count) return false;
    *row = axo_internal::DecodeRow(columns, v->GetRow(next++));
    return true;
  };
  return Status::OK();
}

Status runQuery(const Query& query, std::vector<Row>* rows) {
  rows->clear();
  size_t count = 0;
  RowSource source;
  Status status = runQueryRows(query, &count, &source);
  if (!status.ok()) return status;
  rows->resize(count);
  for (Row& row : *rows) source(&row);
  return Status::OK();
}

// --- situations -------------------------------------------------------------------------

namespace {

// Creates the situation in this process only (see createSituation).
Status CreateInMemory(const SituationSpec& spec) {
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
  Status status = axo_internal::DescribeTable(spec.table, &sit->manager, &d);
  if (!status.ok()) return status;

  RequestDetail& request = sit->request;
  axo_internal::AddressRequest(&request, sit->manager);
  request.sampleType = AXO_SAMPLE_SITUATION;
  CopyBounded(request.situationName, sizeof(request.situationName), spec.name);
  request.interval = spec.interval;
  status = axo_internal::BuildTerms(d, spec.terms, &request);
  if (!status.ok()) return status;

  AXO_SituationState& state = sit->state;
  state.record = SetSituationState;
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
    Status refused = Status::BadRequest(v->GetRefusal());
    delete v;  // no framework lock held, as when a situation is deleted
    ReleaseName(spec.name);
    return refused;
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
  TRK1_Trace(&request_unit, TRK1_DETAIL, "Situation %s created on %s, interval %d, %zu terms",
             spec.name.c_str(), spec.table.c_str(), spec.interval, spec.terms.size());
  return Status::OK();
}

// Deletes the situation in this process only; `*removed` receives its spec.
Status DeleteInMemory(const std::string& name, SituationSpec* removed) {
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
  *removed = sit->spec;
  {
    std::lock_guard<std::mutex> guard(sit->runMu);
    sit->deleted = true;
    DestroySampler(sit.get());
  }
  ReleaseName(name);
  TRK1_Trace(&request_unit, TRK1_DETAIL, "Situation %s deleted", name.c_str());
  return Status::OK();
}

// --- the situations file ----------------------------------------------------------

using Json = nlohmann::ordered_json;

// The largest situations file read: 1,000 situations of 64 conditions fit.
constexpr size_t kMaxSituationsFileBytes = 16 << 20;

// Where the situations are kept; empty: nowhere. `mu` serialises writing the
// file and is held only around a snapshot of the list and a local write
// (nothing else waits on it), so that the last write holds every change
// made before it.
struct Keeper {
  std::mutex mu;
  std::string path;  // guarded by mu
};

Keeper& Kept() {
  static Keeper* k = new Keeper;
  return *k;
}

Json SpecJson(const SituationSpec& spec) {
  Json conditions = Json::array();
  for (const FilterTerm& t : spec.terms) {
    Json c{{"attribute", t.attribute}, {"op", t.op}, {"value", t.value}};
    if (t.orWithPrevious) c["or"] = true;
    conditions.push_back(c);
  }
  return Json{{"name", spec.name},
              {"table", spec.table},
              {"interval", spec.interval},
              {"conditions", conditions}};
}

// A condition value: a text, or an integer given as a JSON number.
bool ConditionValue(const Json& v, std::string* out) {
  if (v.is_string()) {
    *out = v.get<std::string>();
  } else if (v.is_number_integer()) {
    *out = std::to_string(v.get<int64_t>());
  } else if (v.is_number_float() &&
             v.get<double>() == static_cast<double>(static_cast<int64_t>(v.get<double>()))) {
    *out = std::to_string(static_cast<int64_t>(v.get<double>()));
  } else {
    return false;
  }
  return true;
}

Status SpecFromJson(const Json& j, SituationSpec* spec) {
  if (!j.is_object()) return Status::BadRequest("a situation is a JSON object");
  auto name = j.find("name");
  auto table = j.find("table");
  if (name == j.end() || !name->is_string() || table == j.end() || !table->is_string()) {
    return Status::BadRequest("a situation needs a \"name\" and a \"table\"");
  }
  spec->name = name->get<std::string>();
  spec->table = axo_internal::Upper(table->get<std::string>());
  spec->interval = 60;
  if (auto it = j.find("interval"); it != j.end()) {
    if (!it->is_number_integer() || it->get<int64_t>() < 1 || it->get<int64_t>() > 86400) {
      return Status::BadRequest("interval must be an integer from 1 to 86400 seconds");
    }
    spec->interval = static_cast<int>(it->get<int64_t>());
  }
  auto conditions = j.find("conditions");
  if (conditions != j.end() && (!conditions->is_array() || conditions->size() > 64)) {
    return Status::BadRequest("conditions must be a list of at most 64 terms");
  }
  if (conditions == j.end()) return Status::OK();
  for (const Json& c : *conditions) {
    FilterTerm t;
    if (!c.is_object() || !c.contains("attribute") || !c["attribute"].is_string() ||
        !c.contains("op") || !c["op"].is_string() || !c.contains("value") ||
        !ConditionValue(c["value"], &t.value)) {
      return Status::BadRequest(
          "each condition needs \"attribute\", \"op\" and a text or integer \"value\"");
    }
    t.attribute = c["attribute"].get<std::string>();
    t.op = c["op"].get<std::string>();  // checked with the terms
    if (c.contains("or")) {
      if (!c["or"].is_boolean()) return Status::BadRequest("\"or\" must be true or false");
      t.orWithPrevious = c["or"].get<bool>();
    }
    spec->terms.push_back(t);
  }
  return Status::OK();
}

// Rewrites the situations file, if there is one, with every situation.
Status Keep() {
  Keeper& k = Kept();
  std::lock_guard<std::mutex> guard(k.mu);
  if (k.path.empty()) return Status::OK();
  Json list = Json::array();
  {
    Situations& s = Sits();
    std::lock_guard<std::mutex> listGuard(s.mu);
    for (const auto& sit : s.list) list.push_back(SpecJson(sit->spec));
  }
  const std::string text = Json{{"situations", list}}.dump(2) + "\n";
  Status kept = axo_internal::ReplaceFile(k.path, text, 0640);
  if (!kept.ok()) {
    TRK1_Printf(&request_unit, __LINE__, "AXO0401E Situations not kept: %s",
                kept.message().c_str());
  }
  return kept;
}

}  // namespace

Status ParseSituationSpec(const std::string& json, SituationSpec* spec) {
  const Json j = Json::parse(json, nullptr, false);
  if (j.is_discarded() || !j.is_object()) {
    return Status::BadRequest("the body must be a JSON object");
  }
  return SpecFromJson(j, spec);
}

Status createSituation(const SituationSpec& spec) {
  if (Status s = CreateInMemory(spec); !s.ok()) return s;
  if (Status kept = Keep(); !kept.ok()) {
    SituationSpec ignored;
    DeleteInMemory(spec.name, &ignored);
    return Status::Failed("situation " + spec.name + " not created: " + kept.message());
  }
  return Status::OK();
}

Status deleteSituation(const std::string& name) {
  SituationSpec removed;
  if (Status s = DeleteInMemory(name, &removed); !s.ok()) return s;
  if (Status kept = Keep(); !kept.ok()) {
    CreateInMemory(removed);  // back as it was, so the file and the agent agree
    return Status::Failed("situation " + name + " not deleted: " + kept.message());
  }
  return Status::OK();
}

Status LoadSituations(const std::string& path) {
  std::string text;
  Status read = axo_internal::ReadRegularFile(path, kMaxSituationsFileBytes, &text);
  if (!read.ok() && read.code() != kNotFound) {
    return Status::Failed("situations file: " + read.message());
  }
  if (read.ok()) {
    const Json j = Json::parse(text, nullptr, false);
    if (j.is_discarded() || !j.is_object() || !j.contains("situations") ||
        !j["situations"].is_array()) {
      return Status::Failed("situations file " + path +
                            ": not a JSON object with a \"situations\" list");
    }
    size_t number = 0;
    for (const Json& entry : j["situations"]) {
      ++number;
      SituationSpec spec;
      Status s = SpecFromJson(entry, &spec);
      if (s.ok()) s = CreateInMemory(spec);
      if (!s.ok()) {
        return Status::Failed("situations file " + path + ", situation " + std::to_string(number) +
                              (spec.name.empty() ? "" : " (" + spec.name + ")") + ": " +
                              s.message());
      }
    }
  }
  {
    Keeper& k = Kept();
    std::lock_guard<std::mutex> guard(k.mu);
    k.path = path;
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
  {
    Keeper& k = Kept();
    std::lock_guard<std::mutex> guard(k.mu);
    k.path.clear();
  }
  std::vector<std::string> names;
  for (const SituationInfo& info : listSituations()) names.push_back(info.name);
  for (const std::string& name : names) deleteSituation(name);
  EventLog& log = Log();
  std::lock_guard<std::mutex> guard(log.mu);
  log.events.clear();
  log.nextId = 1;
}

}  // namespace axo
