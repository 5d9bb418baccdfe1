// The table catalogue: what each registered table holds (its columns as
// the samplers describe them), rows decoded through those columns, filter
// terms written as text and the compare operators they use. The request
// API, the history collector and the operator API read tables through it.
//
// All functions are thread-safe. None holds a framework lock while it calls
// into the agent (CreateVexor, a sampler's destructor).
#ifndef AXO_TABLES_CATALOG_H_
#define AXO_TABLES_CATALOG_H_

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "axo/base/status.h"
#include "axo/tables/vexor.h"

namespace axo {

// One filter term as text: attribute (upper or lower case), operator
// ("=", "!=", "<", "<=", ">", ">="), value (text, or a decimal integer
// for integer columns). `orWithPrevious` joins it with OR instead of AND.
struct FilterTerm {
  std::string attribute;
  std::string op;
  std::string value;
  bool orWithPrevious = false;
};

// One decoded column value.
struct Value {
  bool isText = true;
  std::string text;    // text columns, trailing blanks removed
  int64_t number = 0;  // integer columns
};

// One decoded row: (upper-case attribute, value) in column order.
using Row = std::vector<std::pair<std::string, Value>>;

// Rows read one at a time: fills `*row` (reusing its memory) and returns
// true, or returns false after the last row.
using RowSource = std::function<bool(Row* row)>;

struct ColumnDescription {
  std::string attribute;  // upper case
  std::string name;       // lower case, as GetColumnInfo gives it
  int type = 0;           // COLUMN_TYPE_*
  int width = 0;
  int offset = 0;
};

struct TableDescription {
  std::string application;
  std::string table;
  std::vector<ColumnDescription> columns;
  TableHistory history;  // as the table's owner declared it
};

// The catalogue of every registered table, in registration order.
std::vector<TableDescription> listTables();
// The description of `table`: ok, or kNotFound / kFailed.
Status describeTable(const std::string& table, TableDescription* out);

}  // namespace axo

namespace axo_internal {

// --- compare operators -----------------------------------------------------

// The compare operators as written in filter terms ("ATTR>=10", a
// situation's "op"), with their codes.
struct OperatorName {
  std::string_view text;
  _IntfOper code;
};
// Two-character operators come first, so that the first entry that prefixes
// a text is the longest operator there.
inline constexpr OperatorName kOperators[] = {
    {"!=", FQX1_NE}, {"<=", FQX1_LE}, {">=", FQX1_GE},
    {"=", FQX1_EQ},  {"<", FQX1_LT},  {">", FQX1_GT},
};

// The operator that `text` starts with, or null.
const OperatorName* OperatorAt(std::string_view text);
// True when `text` is an operator; `*code` is then its code.
bool ParseOperator(std::string_view text, _IntfOper* code);
// True when `code` is a known compare operator code.
bool KnownOperator(short code);

// --- for the parts that make requests ------------------------------------------

// The manager of `table` (in `*manager`) and its description: ok, or
// kNotFound / kFailed.
axo::Status DescribeTable(const std::string& table, TableManager** manager,
                          axo::TableDescription* out);

// Fills a request's application and table fields from `manager`.
void AddressRequest(RequestDetail* request, TableManager* manager);

// Converts text terms into filter terms of `request`, using the columns of
// `table` to pick each value's data type. kBadRequest for an unknown
// attribute or operator, or a value that does not fit its column.
axo::Status BuildTerms(const axo::TableDescription& table,
                       const std::vector<axo::FilterTerm>& terms, RequestDetail* request);

// Decodes one row record through `columns` (empty for a null row).
axo::Row DecodeRow(const std::vector<axo::ColumnDescription>& columns, const char* row);

// Drops what the catalogue remembers about `manager` (it is being destroyed).
void ForgetTable(TableManager* manager);

}  // namespace axo_internal

#endif  // AXO_TABLES_CATALOG_H_
