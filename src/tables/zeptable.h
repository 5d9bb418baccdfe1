// The table pattern: how the agent publishes a monitoring table to the
// framework.
//
// Every table is described once, by a column list in its own header:
//
//   #define ZEPSMT_COLUMNS(X)
//     X(ORIGINNODE, originnode, TEXT, 32, 0)
//     X(MSGLOC, msgloc, SHORT, 2, 32)
//     ...   (each line continued with a backslash)
//
// Each entry gives the upper-case attribute name, the lower-case column
// name, the column type (TEXT: fixed width, blank-padded, no terminator;
// SHORT: 16-bit signed; LONG: 32-bit signed, both in host byte order), the
// width in bytes and the byte offset in the row record. From that one list
// ZEPTABLE_DEFINE_ROW generates the row record `zep_zep<table>_data_t`, the
// column array the framework reads rows through, and compile-time checks
// that every offset and width of the record is the one the list states.
// Gap bytes in front of 32-bit columns come from natural alignment and
// belong to no column.
//
// The classes that the framework sees (manager, base, agent) are generated
// from the same description by the templates below; a table's own module
// adds only its agent class with TakeSample and the two hooks.
#ifndef ZEP_TABLES_ZEPTABLE_H_
#define ZEP_TABLES_ZEPTABLE_H_

#include <cstddef>
#include <cstdint>

// Column type codes as the framework knows them.
enum ZEPTABLE_columnType : uint16_t {
  ZEPTABLE_LONG = 3,   // 32-bit signed integer
  ZEPTABLE_SHORT = 5,  // 16-bit signed integer
  ZEPTABLE_TEXT = 9,   // fixed-width text, blank-padded, unterminated
};

// One column of a table, as listed in the table's catalogue.
struct ZEPTABLE_column {
  const char* attribute;  // upper-case attribute name (filters, situations)
  const char* name;       // lower-case column name (ColumnInfo, PrintSelf)
  uint16_t offset;        // byte offset in the row record
  uint16_t width;         // bytes
  uint16_t type;          // ZEPTABLE_columnType
};

// The static description of one table.
struct ZEPTABLE_description {
  const char* application;  // "ZEP"
  const char* table;        // "ZEPSMT", ...
  const char* baseName;     // "zep_zepsmt_base": first line of PrintSelf
  const ZEPTABLE_column* columns;
  int numColumns;
  int rowSize;    // bytes per row record
  int allocSize;  // rows by which the framework's row buffer grows
};

// --- generation of row records from a column list ---------------------------

#define ZEPTABLE_FIELD_TEXT(name, width) char name[width];
#define ZEPTABLE_FIELD_SHORT(name, width) int16_t name;
#define ZEPTABLE_FIELD_LONG(name, width) int32_t name;
#define ZEPTABLE_DECLARE_FIELD(attr, name, type, width, offset) \
  ZEPTABLE_FIELD_##type(name, width)
#define ZEPTABLE_CHECK_FIELD(attr, name, type, width, offset)          \
  static_assert(offsetof(Row, name) == (offset), "offset of " #name); \
  static_assert(sizeof(Row::name) == (width), "width of " #name);
#define ZEPTABLE_COLUMN_ENTRY(attr, name, type, width, offset) \
  {#attr, #name, (offset), (width), ZEPTABLE_##type},

// Defines the row record `row_t` with the columns of `LIST`, its column
// array `row_t##_columns`, and checks that the record is `size` bytes and
// that every column lies at its stated offset with its stated width.
#define ZEPTABLE_DEFINE_ROW(row_t, LIST, size)                             \
  struct row_t {                                                           \
    LIST(ZEPTABLE_DECLARE_FIELD)                                           \
  };                                                                       \
  struct row_t##_layout_check {                                            \
    using Row = row_t;                                                     \
    LIST(ZEPTABLE_CHECK_FIELD)                                             \
    static_assert(sizeof(Row) == (size), "size of " #row_t);               \
  };                                                                       \
  inline constexpr ZEPTABLE_column row_t##_columns[] = {LIST(ZEPTABLE_COLUMN_ENTRY)}; \
  inline constexpr int row_t##_numColumns =                                \
      static_cast<int>(sizeof(row_t##_columns) / sizeof(ZEPTABLE_column))

#endif  // ZEP_TABLES_ZEPTABLE_H_
