// The operator API's routes: one table, each entry a method, the path as
// operators read it, the expression that matches it, whether the path
// labels its requests on metrics, whether it changes the agent's state,
// whether it waits for the agent's data, a line of help and the handler.
// Registration, the route label of zep_api_requests_total and the token
// check all come from it; the README's route table and the dashboard's
// calls are checked against it.
#ifndef AXO_API_ROUTES_H_
#define AXO_API_ROUTES_H_

#include <httplib.h>

#include <span>
#include <string>

namespace axo::api {

using Handler = void (*)(const httplib::Request& req, httplib::Response& res);

struct Route {
  const char* method;   // "GET", "POST" or "DELETE"
  const char* pattern;  // as operators read it: "/api/v1/tables/{table}"
  const char* match;    // the path's regular expression; groups feed the handler
  // Counted under its own pattern in the route label of
  // zep_api_requests_total (bounded); false: counted as "other" (the
  // dashboard's files).
  bool labelled;
  // Changes the agent's state: needs the bearer token (axo/api/access.h),
  // is refused to other sites, and is never a GET.
  bool changes;
  // Waits for the agent's data at most the framework's wait limit, then
  // answers 503 (the routes that read tables or run commands).
  bool waits;
  const char* help;
  Handler handler;
};

// Every route, in the order registered.
std::span<const Route> Routes();

// The route a request for `method` and `path` reaches (HEAD reaches GET's,
// as the library routes it), or null when none does. Thread-safe.
const Route* FindRoute(const std::string& method, const std::string& path);

// True when the answer to `method` `path` is a table's or history's rows,
// which it holds while it is written (http::FrontEnd::SetRowAnswers).
// Thread-safe.
bool AnswersRows(const std::string& method, const std::string& path);

// The metrics label of a request for `path`, whatever its method: the
// label of the route whose pattern it matches (a pattern's variable part
// by prefix), or "other".
std::string RouteLabel(const std::string& path);

}  // namespace axo::api

#endif  // AXO_API_ROUTES_H_
