// The operator API's parameters and bodies, parsed apart from HTTP: each
// function reads what one route takes (query parameters as httplib hands
// them over, a body as text) and returns ok, or kBadRequest with the
// message the route answers with 400.
#ifndef AXO_API_PARAMS_H_
#define AXO_API_PARAMS_H_

#include <httplib.h>

#include <ctime>
#include <string>
#include <vector>

#include "axo/base/status.h"
#include "axo/history/history.h"
#include "axo/requests/request.h"

namespace axo::api {

// Most rows a history answer holds (limit=), and its default.
inline constexpr size_t kDefaultHistoryLimit = 10000;
inline constexpr size_t kMaxHistoryLimit = 100000;

// "ATTR<op>VALUE" (where=): the attribute is letters, digits and "_", the
// operator one of = != < <= > >=.
Status ParseWhere(const std::string& text, FilterTerm* term);

// A time (from=, to=): seconds since 1970, or ISO 8601 YYYY-MM-DD,
// optionally with THH:MM[:SS[.fraction]] and Z or an offset +HH:MM (none:
// UTC).
Status ParseTime(const std::string& text, time_t* out);

// The parameters the table and history routes share: subnode= (repeatable),
// where= (repeatable, ANDed) and format=json|csv (`*csv`).
Status ParseRowParams(const httplib::Params& params, std::vector<std::string>* subnodes,
                      std::vector<FilterTerm>* terms, bool* csv);

// The table route's query of `table`: the shared parameters and history=.
Status ParseQuery(const std::string& table, const httplib::Params& params, Query* query, bool* csv);

// The history route's query of `table`: the shared parameters, from= and
// to= (default: the day before `now`, `to` just after it) and limit=.
Status ParseHistoryQuery(const std::string& table, const httplib::Params& params, time_t now,
                         HistoryQuery* query, bool* csv);

// since= of the event log: a non-negative integer, 0 when not given.
Status ParseSince(const httplib::Params& params, long long* since);

// The action route's body: the command as text, or {"command": "..."} when
// `contentType` says JSON or the body starts with '{'; line ends at the end
// are dropped.
Status ParseCommand(const std::string& body, const std::string& contentType, std::string* command);

// The manager route's body {"words": [...]}: 1 to 16 texts of at most 256
// characters.
Status ParseManagerWords(const std::string& body, std::vector<std::string>* words);

// The situation route's body is parsed by the request API: ParseSituationSpec.

}  // namespace axo::api

#endif  // AXO_API_PARAMS_H_
