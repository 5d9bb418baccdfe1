// ZEPDCT, the data-collector global settings table: one row per data
// collector, built from the configuration file when a request starts.
#ifndef ZEP_TABLES_ZEPDCT_H_
#define ZEP_TABLES_ZEPDCT_H_

#include "zeptable.h"

#define ZEPDCT_COLUMNS(X)                      \
  X(ORIGINNODE, originnode, TEXT, 32, 0)       \
  X(HOSTNAME, hostname, TEXT, 64, 32)          \
  X(APPSRVENV, appsrvenv, SHORT, 2, 96)        \
  X(APPSRVNM, appsrvnm, TEXT, 64, 98)          \
  X(DCONOFF, dconoff, SHORT, 2, 162)           \
  X(TRCONOFF, trconoff, SHORT, 2, 164)         \
  X(LOGLEVEL, loglevel, SHORT, 2, 166)         \
  X(TABLEVER, tablever, TEXT, 8, 168)

ZEPTABLE_DEFINE_ROW(zep_zepdct_data_t, ZEPDCT_COLUMNS, 176);

#endif  // ZEP_TABLES_ZEPDCT_H_
