// The operator API's route table and its handlers, over the in-process
// request API. How answers are written is http_answer.cc's job, how
// parameters are read params.cc's.
#include "axo/api/routes.h"

#include <cstring>
#include <nlohmann/json.hpp>
#include <regex>
#include <string_view>
#include <vector>

#include "axo/api/http_answer.h"
#include "axo/api/http_ui.h"
#include "axo/api/params.h"
#include "axo/base/osb1.h"
#include "axo/base/text.h"
#include "axo/base/trk1.h"
#include "axo/history/history.h"
#include "axo/metrics/metrics.h"
#include "axo/process/axo.h"
#include "axo/process/liveness.h"
#include "axo/requests/request.h"

TRK1_UNIT(axohttp_unit, "AXOHTTP");

namespace axo::api {
namespace {

// How long a scrape waits for the agent's data before it answers with the
// gauges' last values: a scrape must never hang.
constexpr int kScrapeWaitMillis = 1000;

// GET /healthz: "ok" with each periodic part's last round, or 503 with
// "stuck" naming the parts that completed no round for too long (see
// axo/process/liveness.h for the rule).
void Health(const httplib::Request&, httplib::Response& res) {
  const time_t now = AXO_Now();
  Json parts = Json::object();
  std::string reason;
  for (const liveness::PartState& p : liveness::Parts(now)) {
    parts[p.name] = Json{
        {"state", p.stuck ? "stuck" : "ok"},
        {"last_round", p.lastRound != 0 ? Json(axo_internal::Rfc3339(p.lastRound)) : Json(nullptr)},
        {"age_seconds", p.ageSeconds},
        {"interval_seconds", p.intervalSeconds}};
    if (!p.stuck) continue;
    reason += (reason.empty() ? "" : "; ") + p.name + ": no round completed for " +
              std::to_string(p.ageSeconds) + " s (interval " + std::to_string(p.intervalSeconds) +
              " s)";
  }
  Json body{{"status", reason.empty() ? "ok" : "stuck"}};
  if (!reason.empty()) body["reason"] = reason;
  body["parts"] = std::move(parts);
  Reply(res, reason.empty() ? 200 : 503, body);
}

void Metrics(const httplib::Request& req, httplib::Response& res) {
  OSB1_WaitLimit limit(kScrapeWaitMillis);
  std::string type;
  const auto format = metrics::NegotiateFormat(req.get_header_value("Accept"), &type);
  std::vector<std::string> names;
  for (size_t i = 0; i < req.get_param_value_count("name"); ++i) {
    names.push_back(req.get_param_value("name", i));
  }
  res.set_content(metrics::Expose(format, names), type);
}

void Agent(const httplib::Request&, httplib::Response& res) {
  Reply(res, 200, AgentJson(AXO_GetIdentity(), AXO_ListSubnodes()));
}

void Subnodes(const httplib::Request&, httplib::Response& res) {
  Reply(res, 200, Json{{"subnodes", SubnodesJson(AXO_ListSubnodes())}});
}

void Tables(const httplib::Request&, httplib::Response& res) {
  Reply(res, 200, TablesJson(listTables()));
}

void QueryTable(const httplib::Request& req, httplib::Response& res) {
  Query q;
  bool csv = false;
  if (Status s = ParseQuery(req.matches[1].str(), req.params, &q, &csv); !s.ok()) {
    return Fail(res, s);
  }
  size_t count = 0;
  RowSource rows;
  if (Status s = runQueryRows(q, &count, &rows); !s.ok()) return Fail(res, s);
  AnswerRowSource(req, res, q.table, count, std::move(rows), csv);
}

// GET /api/v1/history/{TABLE}: rows of the history store, the table
// route's shape and filters over a time range (default: the last day).
void QueryHistory(const httplib::Request& req, httplib::Response& res) {
  HistoryQuery q;
  bool csv = false;
  if (Status s = ParseHistoryQuery(req.matches[1].str(), req.params, AXO_Now(), &q, &csv);
      !s.ok()) {
    return Fail(res, s);
  }
  HistoryAnswer rows;
  if (Status s = RunHistoryQuery(q, &rows); !s.ok()) return Fail(res, s);
  AnswerRowSource(req, res, q.table, rows.count, std::move(rows.next), csv);
}

void Action(const httplib::Request& req, httplib::Response& res) {
  std::string command;
  if (Status s = ParseCommand(req.body, req.get_header_value("Content-Type"), &command); !s.ok()) {
    return Fail(res, s);
  }
  long rc = 0;
  std::string message;
  if (Status s = runActionCommand(command, &rc, &message); !s.ok()) return Fail(res, s);
  TRK1_Trace(&axohttp_unit, TRK1_DETAIL, "AXO0103I Action command from %s ended with %ld",
             req.remote_addr.c_str(), rc);
  Reply(res, 200, Json{{"rc", rc}, {"message", message}});
}

void Manager(const httplib::Request& req, httplib::Response& res) {
  std::vector<std::string> words;
  if (Status s = ParseManagerWords(req.body, &words); !s.ok()) return Fail(res, s);
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  TRK1_Printf(&axohttp_unit, __LINE__, "AXO0104I Manager command from %s", req.remote_addr.c_str());
  int rc = 0;
  if (!AXO_RunManagerCommand(static_cast<int>(words.size()), argv.data(), &rc)) {
    return Fail(res, Status::Failed("no manager command entry point is registered"));
  }
  Reply(res, 200, Json{{"rc", rc}});
}

void Situations(const httplib::Request&, httplib::Response& res) {
  Reply(res, 200, SituationsJson(listSituations()));
}

void CreateSituation(const httplib::Request& req, httplib::Response& res) {
  SituationSpec spec;
  if (Status s = ParseSituationSpec(req.body, &spec); !s.ok()) return Fail(res, s);
  if (Status s = createSituation(spec); !s.ok()) return Fail(res, s);
  for (const SituationInfo& info : listSituations()) {
    if (info.name == spec.name) return Reply(res, 201, SituationJson(info));
  }
  Reply(res, 201, Json{{"name", spec.name}});
}

void DeleteSituation(const httplib::Request& req, httplib::Response& res) {
  if (Status s = deleteSituation(req.matches[1].str()); !s.ok()) return Fail(res, s);
  Reply(res, 200, Json{{"deleted", req.matches[1].str()}});
}

void Events(const httplib::Request& req, httplib::Response& res) {
  long long since = 0;
  if (Status s = ParseSince(req.params, &since); !s.ok()) return Fail(res, s);
  Reply(res, 200, EventsJson(eventsSince(since)));
}

// The dashboard: its page at "/", its files at "/ui/<file>" (an unknown one
// is no resource).
void Dashboard(const httplib::Request& req, httplib::Response& res) {
  const std::string file = req.matches.size() > 1 ? req.matches[1].str() : "index.html";
  if (!ServeAsset(file, res)) res.status = 404;
}

constexpr Route kRoutes[] = {
    {"GET", "/healthz", "/healthz", true, false, false,
     "liveness: each periodic part's last round; 503 when one is stuck", Health},
    {"GET", "/metrics", "/metrics", true, false, true,
     "the metrics in the Prometheus text format or OpenMetrics", Metrics},
    {"GET", "/", "/", false, false, false, "the dashboard", Dashboard},
    {"GET", "/ui/{file}", R"(/ui/([A-Za-z0-9_.-]{1,64}))", false, false, false,
     "the dashboard's files", Dashboard},
    {"GET", "/api/v1/agent", "/api/v1/agent", true, false, false, "identity, start time, subnodes",
     Agent},
    {"GET", "/api/v1/subnodes", "/api/v1/subnodes", true, false, false, "registered subnodes",
     Subnodes},
    {"GET", "/api/v1/tables", "/api/v1/tables", true, false, true, "the table catalogue", Tables},
    {"GET", "/api/v1/tables/{table}", R"(/api/v1/tables/([A-Za-z0-9_]{1,32}))", true, false, true,
     "one sample of a table", QueryTable},
    {"GET", "/api/v1/history/{table}", R"(/api/v1/history/([A-Za-z0-9_]{1,32}))", true, false, true,
     "stored history of a table", QueryHistory},
    {"POST", "/api/v1/actions", "/api/v1/actions", true, true, true, "runs a take-action command",
     Action},
    {"POST", "/api/v1/manager", "/api/v1/manager", true, true, false, "a manager command", Manager},
    {"GET", "/api/v1/situations", "/api/v1/situations", true, false, false,
     "situations with their state", Situations},
    {"POST", "/api/v1/situations", "/api/v1/situations", true, true, true, "creates a situation",
     CreateSituation},
    {"DELETE", "/api/v1/situations/{name}", R"(/api/v1/situations/([^/]{1,64}))", true, true, true,
     "deletes a situation", DeleteSituation},
    {"GET", "/api/v1/events", "/api/v1/events", true, false, false,
     "the event log after an event id", Events},
};

// A route that changes state is never a GET: a link or a page can make a
// browser send a GET, never a POST with the token.
constexpr bool NoChangeOnGet() {
  for (const Route& r : kRoutes) {
    if (r.changes && std::string_view(r.method) == "GET") return false;
  }
  return true;
}
static_assert(NoChangeOnGet(), "a route that changes state must not be a GET");

}  // namespace

std::span<const Route> Routes() { return kRoutes; }

const Route* FindRoute(const std::string& method, const std::string& path) {
  static const std::vector<std::regex> kMatches = [] {
    std::vector<std::regex> m;
    for (const Route& r : kRoutes) m.emplace_back(r.match);
    return m;
  }();
  const std::string wanted = method == "HEAD" ? "GET" : method;
  for (size_t i = 0; i < std::size(kRoutes); ++i) {
    if (wanted == kRoutes[i].method && std::regex_match(path, kMatches[i])) return &kRoutes[i];
  }
  return nullptr;
}

bool AnswersRows(const std::string& method, const std::string& path) {
  const Route* r = FindRoute(method, path);
  return r != nullptr && (r->handler == QueryTable || r->handler == QueryHistory);
}

std::string RouteLabel(const std::string& path) {
  for (const Route& r : kRoutes) {
    if (!r.labelled) continue;
    const std::string_view label(r.pattern);
    const size_t variable = label.find('{');
    if (variable == std::string_view::npos ? path == label
                                           : path.starts_with(label.substr(0, variable))) {
      return r.pattern;
    }
  }
  return "other";
}

}  // namespace axo::api
