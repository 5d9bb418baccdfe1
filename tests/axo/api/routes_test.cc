// The operator API's route table against what the README and the dashboard
// say, and its parameters read without HTTP.
#include "axo/api/routes.h"

#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <string>

#include "axo/api/params.h"
#include "support/e2e_support.h"

namespace {

std::set<std::string> TableRoutes() {
  std::set<std::string> routes;
  for (const axo::api::Route& r : axo::api::Routes()) {
    routes.insert(std::string(r.method) + " " + r.pattern);
  }
  return routes;
}

// The README's table of requests (section "The operator API") lists every
// route and no other; every call of the dashboard reaches a route with its
// method; the routes that change state need the token, and none is a GET.
TEST(OperatorApiRoutes, ReadmeAndDashboardFollowTheTable) {
  const std::string readme = e2e::ReadFile(std::string(ZEP_SOURCE_DIR) + "/README.md");
  const size_t begin = readme.find("\n## The operator API\n");
  ASSERT_NE(begin, std::string::npos);
  const std::string section = readme.substr(begin, readme.find("\n## ", begin + 1) - begin);
  std::set<std::string> documented;
  static const std::regex kRow("\n\\| `(GET|POST|DELETE) ([^`?]+)[^`]*` \\|");
  for (std::sregex_iterator it(section.begin(), section.end(), kRow), end; it != end; ++it) {
    documented.insert((*it)[1].str() + " " + (*it)[2].str());
  }
  EXPECT_EQ(documented, TableRoutes());

  // `${API}/situations/${name}` and change('DELETE', ...): each call with a
  // sample value in every ${...}.
  const std::string app = e2e::ReadFile(std::string(ZEP_SOURCE_DIR) + "/axo/api/ui/app.js");
  static const std::regex kCall(R"((?:change\('(\w+)',\s*)?`\$\{API\}(/[^`]*)|'(/metrics)\?)");
  static const std::regex kVariable(R"(\$\{[^}]*\})");
  int calls = 0;
  for (std::sregex_iterator it(app.begin(), app.end(), kCall), end; it != end; ++it, ++calls) {
    const std::string method = (*it)[1].matched ? (*it)[1].str() : "GET";
    std::string path = (*it)[3].matched
                           ? (*it)[3].str()
                           : "/api/v1" + std::regex_replace((*it)[2].str(), kVariable, "X1");
    path = path.substr(0, path.find('?'));
    bool reached = false;
    for (const axo::api::Route& r : axo::api::Routes()) {
      reached |= method == r.method && std::regex_match(path, std::regex(r.match));
    }
    EXPECT_TRUE(reached) << method << " " << path;
  }
  EXPECT_GE(calls, 8);

  for (const axo::api::Route& r : axo::api::Routes()) {
    EXPECT_EQ(r.changes, std::string(r.method) != "GET") << r.pattern;
  }
  EXPECT_EQ(axo::api::RouteLabel("/api/v1/tables/ZEPSMT"), "/api/v1/tables/{table}");
  EXPECT_EQ(axo::api::RouteLabel("/api/v1/tables"), "/api/v1/tables");
  EXPECT_EQ(axo::api::RouteLabel("/ui/app.js"), "other");
}

// Each parameter's rule, with the text the route answers with 400. (Good
// queries: http_api_test.cc and history_test.cc, through the routes.)
TEST(OperatorApiParams, BadValuesAreRefusedWithTheirReason) {
  using axo::api::ParseQuery;
  bool csv = false;
  for (const httplib::Params& bad : {httplib::Params{{"where", "=5"}},
                                     {{"where", "BIG~5"}},
                                     {{"format", "xml"}},
                                     {{"history", "maybe"}}}) {
    axo::Query ignored;
    EXPECT_EQ(ParseQuery("T", bad, &ignored, &csv).code(), axo::kBadRequest);
  }

  axo::HistoryQuery h;
  ASSERT_TRUE(axo::api::ParseHistoryQuery("T", {}, 1000000000, &h, &csv).ok());
  EXPECT_EQ(h.to, 1000000001);  // up to now by default
  const axo::Status badTime = axo::api::ParseHistoryQuery("T", {{"to", "2026-13-01"}}, 0, &h, &csv);
  EXPECT_EQ(badTime.message().rfind("bad time for to: '2026-13-01'", 0), 0u) << badTime.message();

  std::string command;
  EXPECT_FALSE(axo::api::ParseCommand("\r\n", "text/plain", &command).ok());
  std::vector<std::string> words;
  EXPECT_FALSE(axo::api::ParseManagerWords(R"({"words": "STOP"})", &words).ok());

  axo::SituationSpec spec;
  const std::string head = R"({"name": "S", "table": "t")";
  ASSERT_TRUE(axo::ParseSituationSpec(
                  head + R"(, "conditions": [{"attribute": "A", "op": "<", "value": 2.0}]})", &spec)
                  .ok());
  EXPECT_EQ(spec.table, "T");
  EXPECT_EQ(spec.interval, 60);
  EXPECT_EQ(spec.terms.at(0).value, "2");
  for (const std::string& bad :
       {std::string(R"({"table": "T"})"), head + R"(, "interval": 0})",
        head + R"(, "conditions": [{"attribute": "A", "op": "=", "value": 1.5}]})",
        head + R"(, "conditions": [{"attribute": "A", "op": "=", "value": 1, "or": 1}]})"}) {
    axo::SituationSpec ignored;
    EXPECT_EQ(axo::ParseSituationSpec(bad, &ignored).code(), axo::kBadRequest) << bad;
  }
}

}  // namespace
