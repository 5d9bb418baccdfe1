// Fuzz target: an operator's query parameters and situation definitions,
// through the request API that the HTTP layer calls, against every table of
// the agent holding the records of one metric log file.
//
// The input is lines: the first names the table (its number in the
// catalogue when it is a digit, else the name as given); then
//   "w:ATTR<op>VALUE"  a filter term (ANDed),   "o:ATTR<op>VALUE" (ORed),
//   "s:NAME"           a subnode,               "h"  a history request,
//   "n:NAME"           the situation's name,    "i:N" its interval.
//
// Holds after every input: no crash or sanitizer report; every call answers
// a known status; an ordinary query with only ANDed terms returns no more
// rows than the same query without terms; a created situation is listed,
// can be polled, and is gone after its deletion; nothing is left held (the
// next input runs the same calls).
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "axo/requests/request.h"
#include "fuzz_support.h"
#include "runtime/zepdisp.h"
#include "runtime/zepmain.h"

namespace {

const char kLog[] =
    "#ZEP.version=01.01.00\n#ZEP.env=1\n#ZEP.node=node1\n#ZEP.cell=cell1\n"
    "#ZEP.servername=server1\n#ZEP.cluster=cluster1\n#ZEP.hostname=host1.example.com\n"
    "#ZEP.ipaddress=10.0.0.1\n"
    "2;1143553140000;t1;120;OrderPort;submitOrder;0;0;100;c1;x;p1;client.example;10.0.0.9;;\n"
    "2;1143553150000;t1;80;OrderPort;cancelOrder;0;0;90;c2;x;p2;client.example;10.0.0.8;;\n"
    "2;1143553160000;t1;300;OrderPort;submitOrder;0;0;110;c3;x;p3;client.example;10.0.0.9;"
    "F1;fault text\n";

// "ATTR<op>VALUE" as the HTTP layer splits it.
bool splitTerm(const std::string& text, axo::FilterTerm* term) {
  const size_t i =
      text.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_");
  if (i == 0 || i == std::string::npos) return false;
  for (const std::string op : {"!=", "<=", ">=", "=", "<", ">"}) {
    if (text.compare(i, op.size(), op) != 0) continue;
    *term = {text.substr(0, i), op, text.substr(i + op.size())};
    return true;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  zepfuzz::writeFile(zepfuzz::configDir() + "/ZEP.dc.properties", "", 0);
  if (ZEPDISP_dispatcher::initWithoutThread() != 0) zepfuzz::abortWith("dispatcher init");
  ZEPDISP_dispatcher::dcaStartTime = zepfuzz::kNow - 3600;
  LoadAgents();
  zepfuzz::writeFile(zepfuzz::logDir() + "/ZEP.server1.1.metric.log", kLog, sizeof(kLog) - 1);
  ZEPDISP_dispatcher::runOnePass();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
  std::string first, l;
  std::getline(in, first);
  static const std::vector<axo::TableDescription> tables = axo::listTables();
  if (tables.empty()) zepfuzz::abortWith("no tables registered");
  axo::Query query;
  query.table = first.size() == 1 && isdigit(static_cast<unsigned char>(first[0]))
                    ? tables[(first[0] - '0') % tables.size()].table
                    : first;
  axo::SituationSpec spec;
  spec.name = "FuzzSit";
  spec.interval = 60;
  bool anyOr = false;
  for (int n = 0; n < 63 && std::getline(in, l); ++n) {
    const std::string rest = l.size() > 2 ? l.substr(2) : std::string();
    axo::FilterTerm t;
    if ((l.rfind("w:", 0) == 0 || l.rfind("o:", 0) == 0) && splitTerm(rest, &t)) {
      t.orWithPrevious = l[0] == 'o';
      anyOr = anyOr || t.orWithPrevious;
      query.terms.push_back(t);
    } else if (l.rfind("s:", 0) == 0) {
      query.subnodes.push_back(rest);
    } else if (l.rfind("n:", 0) == 0) {
      spec.name = rest;
    } else if (l.rfind("i:", 0) == 0) {
      spec.interval = atoi(rest.c_str());
    } else {
      query.history = query.history || l == "h";
    }
  }

  std::vector<axo::Row> rows, allRows;
  const axo::Code qs = axo::runQuery(query, &rows).code();
  ZEPFUZZ_CHECK(qs >= axo::kOk && qs <= axo::kFailed && (qs == axo::kOk || rows.empty()));
  // (A history request marks what it returned, so only ordinary queries
  // can be compared.)
  if (qs == axo::kOk && !anyOr && !query.history) {
    axo::Query all = query;
    all.terms.clear();
    ZEPFUZZ_CHECK(axo::runQuery(all, &allRows).code() == axo::kOk);
    ZEPFUZZ_CHECK(rows.size() <= allRows.size());
  }
  spec.table = query.table;
  spec.terms = query.terms;
  const axo::Code cs = axo::createSituation(spec).code();
  ZEPFUZZ_CHECK(cs >= axo::kOk && cs <= axo::kFailed);
  if (cs == axo::kOk) {
    bool listed = false;
    for (const axo::SituationInfo& s : axo::listSituations()) listed |= s.name == spec.name;
    ZEPFUZZ_CHECK(listed);
    axo::pollSituations(zepfuzz::kNow);
    axo::pollSituations(zepfuzz::kNow + 86400);
    ZEPFUZZ_CHECK(axo::deleteSituation(spec.name).code() == axo::kOk);
  }
  ZEPFUZZ_CHECK(axo::listSituations().empty());
  axo::eventsSince(0);
  axo::resetSituationsForTesting();
  return 0;
}
