// Data row: a payload that owns one ZEPMATT row record.
//
// GetCDT wraps each situation's row in a data row; the ZEPMATT sample that
// receives the list destroys each data row, and with it its row record.
//
// Thread-safety: none; a data row belongs to one sampling call.
#ifndef ZEP_SITUATIONS_ZEPDCROW_H_
#define ZEP_SITUATIONS_ZEPDCROW_H_

#include "situations/zeppld.h"

struct zep_zepmatt_data_t;

class ZEPDCROW_DataRow : public ZEPPLD_Payload {
 public:
  // Takes ownership of `row` (allocated with new; may be null).
  explicit ZEPDCROW_DataRow(zep_zepmatt_data_t* row) : row_(row) {}
  // Deletes the row record.
  ~ZEPDCROW_DataRow() override;

  // Data rows have no key.
  const char* getKey() const override { return nullptr; }

  // The owned row record; stays owned by the data row.
  zep_zepmatt_data_t* getRow() const { return row_; }

 private:
  zep_zepmatt_data_t* row_;
};

#endif  // ZEP_SITUATIONS_ZEPDCROW_H_
