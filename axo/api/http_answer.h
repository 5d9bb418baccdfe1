// Answer encoding of the operator API: the JSON bodies of its answers, and
// table answers written as JSON or CSV, streamed as they are encoded. The routes
// (http_api.cc) decide what to answer; this module decides how it is
// written. Framework-internal.
//
// All functions are thread-safe: they keep no state between calls.
#ifndef AXO_API_HTTP_ANSWER_H_
#define AXO_API_HTTP_ANSWER_H_

#include <httplib.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "axo/history/history.h"
#include "axo/process/axo.h"
#include "axo/requests/request.h"

namespace axo::api {

// Keys keep the order they were added in.
using Json = nlohmann::ordered_json;

// The compact text of `j`. Never throws: record fields are bytes, and text
// that is not UTF-8 is written with replacement characters.
std::string Dump(const Json& j);

// Answers `status` with `body`.
void Reply(httplib::Response& res, int status, const Json& body);
// Answers `status` with {"error": message} (http::ErrorBody, the front
// end's shape).
void Fail(httplib::Response& res, int status, const std::string& message);
// Answers a failed Status: its message with the HTTP status of its code
// (400, 404, 409, 429, 500 or 503).
void Fail(httplib::Response& res, const Status& status);

// The bodies of the read-only routes.
Json AgentJson(const AXO_Identity& id, const std::vector<AXO_SubnodeInfo>& subnodes);
Json SubnodesJson(const std::vector<AXO_SubnodeInfo>& subnodes);
Json TablesJson(const std::vector<TableDescription>& tables);
Json SituationJson(const SituationInfo& situation);
Json SituationsJson(const std::vector<SituationInfo>& situations);
Json EventsJson(const std::vector<Event>& events);

// Answers a query on `table` with `count` rows read from `source` as the
// answer is written, 200, so that neither the text nor the decoded rows
// ever exist whole. CSV has a header line of the attribute names (the
// table's columns when there is no row). JSON is {"table": ..., "count": N,
// "rows": [...]}. Both go in chunks, or to an HTTP/1.0 client, which cannot
// read chunks, ended by the end of the connection. `source` is called on
// the listener's threads, one call at a time, after the handler has
// returned.
void AnswerRowSource(const httplib::Request& req, httplib::Response& res, const std::string& table,
                     size_t count, RowSource source, bool csv);

// Appends `row` to `*out` as one JSON object {"ATTR":value,...} in column
// order: text columns as strings, integer columns as numbers. The text is
// the same as a JSON document library writes for that object.
void AppendRowJson(const Row& row, std::string* out);

}  // namespace axo::api

#endif  // AXO_API_HTTP_ANSWER_H_
