// The table catalogue, row decoding, filter terms and compare operators.
#include "axo/tables/catalog.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <map>
#include <mutex>

#include "axo/base/clock.h"
#include "axo/base/text.h"

namespace axo {
namespace {

using axo_internal::CopyBounded;
using axo_internal::Upper;

constexpr size_t kMaxValueLength = 1024;

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
  bool cached = false;
  {
    std::lock_guard<std::mutex> guard(c.mu);
    auto it = c.tables.find(manager);
    if (it != c.tables.end()) {
      *out = it->second;
      cached = true;
    }
  }
  if (!cached) {
    TableDescription d;
    Status status = Probe(manager, &d);  // no lock held: calls into the agent
    if (!status.ok()) return status;
    std::lock_guard<std::mutex> guard(c.mu);
    c.tables[manager] = d;
    *out = std::move(d);
  }
  // Not cached: the owner may declare it after the first description.
  out->history = AXO_TableHistory(table);
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

}  // namespace

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

}  // namespace axo

namespace axo_internal {

axo::Status DescribeTable(const std::string& table, TableManager** manager,
                          axo::TableDescription* out) {
  return axo::Describe(table, manager, out);
}

void AddressRequest(RequestDetail* request, TableManager* manager) {
  axo::Address(request, manager);
}

axo::Status BuildTerms(const axo::TableDescription& table,
                       const std::vector<axo::FilterTerm>& terms, RequestDetail* request) {
  return axo::BuildTerms(table, terms, request);
}

const OperatorName* OperatorAt(std::string_view text) {
  for (const OperatorName& op : kOperators) {
    if (text.substr(0, op.text.size()) == op.text) return &op;
  }
  return nullptr;
}

bool ParseOperator(std::string_view text, _IntfOper* code) {
  const OperatorName* op = OperatorAt(text);
  if (op == nullptr || op->text.size() != text.size()) return false;
  *code = op->code;
  return true;
}

bool KnownOperator(short code) {
  for (const OperatorName& op : kOperators) {
    if (op.code == code) return true;
  }
  return false;
}

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

}  // namespace axo_internal
