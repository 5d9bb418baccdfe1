// Row records of the seven monitoring tables.
//
// Every table is described once, by a column list:
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
// ZEPROWS_DEFINE_ROW generates the row record `zep_zep<table>_data_t`, the
// column array the framework reads rows through, and compile-time checks
// that every offset and width of the record is the one the list states.
// Gap bytes in front of 32-bit columns come from natural alignment and
// belong to no column.
//
// The records sit at the bottom of the agent because every layer fills
// them: metric lines hold ready ZEPSMT and ZEPFLCT rows, the inventory its
// ZEPINV rows, the message counters ZEPMATT rows and the configuration model
// the rows of the three configuration tables. The tables (tables/) publish
// them to the framework.
#ifndef ZEP_FOUNDATION_ZEPROWS_H_
#define ZEP_FOUNDATION_ZEPROWS_H_

#include <cstddef>
#include <cstdint>

#include "axo/tables/vexor.h"

// Column type codes: the framework's.
enum ZEPROWS_columnType : uint16_t {
  ZEPROWS_LONG = COLUMN_TYPE_LONG,    // 32-bit signed integer
  ZEPROWS_SHORT = COLUMN_TYPE_SHORT,  // 16-bit signed integer
  ZEPROWS_TEXT = COLUMN_TYPE_TEXT,    // fixed-width text, blank-padded, unterminated
};

// One column of a table, as listed in the table's catalogue.
struct ZEPROWS_column {
  const char* attribute;  // upper-case attribute name (filters, situations)
  const char* name;       // lower-case column name (ColumnInfo, PrintSelf)
  uint16_t offset;        // byte offset in the row record
  uint16_t width;         // bytes
  uint16_t type;          // ZEPROWS_columnType
};

// --- generation of row records from a column list ---------------------------

#define ZEPROWS_FIELD_TEXT(name, width) char name[width];
#define ZEPROWS_FIELD_SHORT(name, width) int16_t name;
#define ZEPROWS_FIELD_LONG(name, width) int32_t name;
#define ZEPROWS_DECLARE_FIELD(attr, name, type, width, offset) ZEPROWS_FIELD_##type(name, width)
#define ZEPROWS_CHECK_FIELD(attr, name, type, width, offset)          \
  static_assert(offsetof(Row, name) == (offset), "offset of " #name); \
  static_assert(sizeof(Row::name) == (width), "width of " #name);
#define ZEPROWS_COLUMN_ENTRY(attr, name, type, width, offset) \
  {#attr, #name, (offset), (width), ZEPROWS_##type},

// Defines the row record `row_t` with the columns of `LIST`, its column
// array `row_t##_columns`, and checks that the record is `size` bytes and
// that every column lies at its stated offset with its stated width.
#define ZEPROWS_DEFINE_ROW(row_t, LIST, size)                                       \
  struct row_t {                                                                    \
    LIST(ZEPROWS_DECLARE_FIELD)                                                     \
  };                                                                                \
  struct row_t##_layout_check {                                                     \
    using Row = row_t;                                                              \
    LIST(ZEPROWS_CHECK_FIELD)                                                       \
    static_assert(sizeof(Row) == (size), "size of " #row_t);                        \
  };                                                                                \
  inline constexpr ZEPROWS_column row_t##_columns[] = {LIST(ZEPROWS_COLUMN_ENTRY)}; \
  inline constexpr int row_t##_numColumns =                                         \
      static_cast<int>(sizeof(row_t##_columns) / sizeof(ZEPROWS_column))

#define ZEPSMT_COLUMNS(X)                  \
  X(ORIGINNODE, originnode, TEXT, 32, 0)   \
  X(MSGLOC, msgloc, SHORT, 2, 32)          \
  X(MSGTIME, msgtime, TEXT, 16, 34)        \
  X(THREADID, threadid, TEXT, 32, 50)      \
  X(ELPSDTIME, elpsdtime, LONG, 4, 84)     \
  X(PORTNAME, portname, TEXT, 64, 88)      \
  X(OPNAME, opname, TEXT, 64, 152)         \
  X(ONEWAYMSG, onewaymsg, SHORT, 2, 216)   \
  X(FAULTRESP, faultresp, SHORT, 2, 218)   \
  X(CURRCORR, currcorr, TEXT, 128, 220)    \
  X(PREVCORR, prevcorr, TEXT, 128, 348)    \
  X(HOSTNAME, hostname, TEXT, 64, 476)     \
  X(IPADDR, ipaddr, TEXT, 64, 540)         \
  X(RMHSTNAME, rmhstname, TEXT, 64, 604)   \
  X(RMIPADDR, rmipaddr, TEXT, 64, 668)     \
  X(APPSRVENV, appsrvenv, SHORT, 2, 732)   \
  X(APPSRVNODE, appsrvnode, TEXT, 64, 734) \
  X(APPSRVCELL, appsrvcell, TEXT, 64, 798) \
  X(APPSRVNM, appsrvnm, TEXT, 64, 862)     \
  X(APPSRVCLUS, appsrvclus, TEXT, 64, 926) \
  X(MSGLENGTH, msglength, LONG, 4, 992)    \
  X(TABLEVER, tablever, TEXT, 8, 996)

ZEPROWS_DEFINE_ROW(zep_zepsmt_data_t, ZEPSMT_COLUMNS, 1004);

#define ZEPFLCT_COLUMNS(X)               \
  X(ORIGINNODE, originnode, TEXT, 32, 0) \
  X(HOSTNAME, hostname, TEXT, 64, 32)    \
  X(MSGLOC, msgloc, SHORT, 2, 96)        \
  X(MSGTIME, msgtime, TEXT, 16, 98)      \
  X(PORTNAME, portname, TEXT, 64, 114)   \
  X(APPSRVENV, appsrvenv, SHORT, 2, 178) \
  X(APPSRVNM, appsrvnm, TEXT, 64, 180)   \
  X(OPNAME, opname, TEXT, 64, 244)       \
  X(CURRCORR, currcorr, TEXT, 128, 308)  \
  X(FLTCODE, fltcode, TEXT, 128, 436)    \
  X(FLTSTR, fltstr, TEXT, 256, 564)      \
  X(TABLEVER, tablever, TEXT, 8, 820)

ZEPROWS_DEFINE_ROW(zep_zepflct_data_t, ZEPFLCT_COLUMNS, 828);

#define ZEPDCMT_COLUMNS(X)               \
  X(ORIGINNODE, originnode, TEXT, 32, 0) \
  X(HOSTNAME, hostname, TEXT, 64, 32)    \
  X(APPSRVENV, appsrvenv, SHORT, 2, 96)  \
  X(APPSRVNM, appsrvnm, TEXT, 64, 98)    \
  X(PORTNAME, portname, TEXT, 64, 162)   \
  X(OPNAME, opname, TEXT, 64, 226)       \
  X(MSGLGLVL, msglglvl, SHORT, 2, 290)   \
  X(MCINDEX, mcindex, SHORT, 2, 292)     \
  X(TABLEVER, tablever, TEXT, 8, 294)

ZEPROWS_DEFINE_ROW(zep_zepdcmt_data_t, ZEPDCMT_COLUMNS, 302);

#define ZEPDCT_COLUMNS(X)                \
  X(ORIGINNODE, originnode, TEXT, 32, 0) \
  X(HOSTNAME, hostname, TEXT, 64, 32)    \
  X(APPSRVENV, appsrvenv, SHORT, 2, 96)  \
  X(APPSRVNM, appsrvnm, TEXT, 64, 98)    \
  X(DCONOFF, dconoff, SHORT, 2, 162)     \
  X(TRCONOFF, trconoff, SHORT, 2, 164)   \
  X(LOGLEVEL, loglevel, SHORT, 2, 166)   \
  X(TABLEVER, tablever, TEXT, 8, 168)

ZEPROWS_DEFINE_ROW(zep_zepdct_data_t, ZEPDCT_COLUMNS, 176);

#define ZEPFCT_COLUMNS(X)                \
  X(ORIGINNODE, originnode, TEXT, 32, 0) \
  X(HOSTNAME, hostname, TEXT, 64, 32)    \
  X(APPSRVENV, appsrvenv, SHORT, 2, 96)  \
  X(APPSRVNM, appsrvnm, TEXT, 64, 98)    \
  X(PORTNAME, portname, TEXT, 64, 162)   \
  X(OPNAME, opname, TEXT, 64, 226)       \
  X(RMIPADDR, rmipaddr, TEXT, 64, 290)   \
  X(FCINDEX, fcindex, SHORT, 2, 354)     \
  X(TABLEVER, tablever, TEXT, 8, 356)

ZEPROWS_DEFINE_ROW(zep_zepfct_data_t, ZEPFCT_COLUMNS, 364);

#define ZEPMATT_COLUMNS(X)                 \
  X(ORIGINNODE, originnode, TEXT, 32, 0)   \
  X(HOSTNAME, hostname, TEXT, 64, 32)      \
  X(PORTNAME, portname, TEXT, 64, 96)      \
  X(OPNAME, opname, TEXT, 64, 160)         \
  X(RMIPADDR, rmipaddr, TEXT, 64, 224)     \
  X(TMINT, tmint, LONG, 4, 288)            \
  X(MSGLMT, msglmt, LONG, 4, 292)          \
  X(COMPARATOR, comparator, SHORT, 2, 296) \
  X(MSGCNT, msgcnt, LONG, 4, 300)          \
  X(TABLEVER, tablever, TEXT, 8, 304)      \
  X(SITNAME, sitname, TEXT, 32, 312)

ZEPROWS_DEFINE_ROW(zep_zepmatt_data_t, ZEPMATT_COLUMNS, 344);

#define ZEPINV_COLUMNS(X)                   \
  X(ORIGINNODE, originnode, TEXT, 32, 0)    \
  X(SVCTYPE, svctype, SHORT, 2, 32)         \
  X(PORTNAME, portname, TEXT, 64, 34)       \
  X(OPNAME, opname, TEXT, 64, 98)           \
  X(HOSTNAME, hostname, TEXT, 64, 162)      \
  X(IPADDR, ipaddr, TEXT, 64, 226)          \
  X(APPSRVENV, appsrvenv, SHORT, 2, 290)    \
  X(APPSRVNODE, appsrvnode, TEXT, 64, 292)  \
  X(APPSRVCELL, appsrvcell, TEXT, 64, 356)  \
  X(APPSRVNM, appsrvnm, TEXT, 64, 420)      \
  X(APPSRVCLUS, appsrvclus, TEXT, 64, 484)  \
  X(TABLEVER, tablever, TEXT, 8, 548)       \
  X(INTBEGTIME, intbegtime, TEXT, 16, 556)  \
  X(INTENDTIME, intendtime, TEXT, 16, 572)  \
  X(INTLENGTH, intlength, LONG, 4, 588)     \
  X(AVGMSGLEN, avgmsglen, LONG, 4, 592)     \
  X(MSGCOUNT, msgcount, LONG, 4, 596)       \
  X(ETMSGCOUNT, etmsgcount, LONG, 4, 600)   \
  X(AVGETIME, avgetime, LONG, 4, 604)       \
  X(SVCOPERTYP, svcopertyp, TEXT, 140, 608) \
  X(FLTCOUNT, fltcount, LONG, 4, 748)       \
  X(MAXMSGLEN, maxmsglen, LONG, 4, 752)     \
  X(MAXETIME, maxetime, LONG, 4, 756)       \
  X(MINMSGLEN, minmsglen, LONG, 4, 760)     \
  X(MINETIME, minetime, LONG, 4, 764)       \
  X(SDMSGLEN, sdmsglen, LONG, 4, 768)       \
  X(SDETIME, sdetime, LONG, 4, 772)         \
  X(INTSTATUS, intstatus, SHORT, 2, 776)

// The record ends with two gap bytes after INTSTATUS.
ZEPROWS_DEFINE_ROW(zep_zepinv_data_t, ZEPINV_COLUMNS, 780);

#endif  // ZEP_FOUNDATION_ZEPROWS_H_
