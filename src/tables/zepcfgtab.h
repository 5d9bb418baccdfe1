// The configuration tables' request object: ZEPDCT, ZEPDCMT and ZEPFCT show
// rows built from the configuration file (config/), once per request, as the
// file is when the request starts; every sample of the request publishes
// them (ZEPCTELE_publishRows).
//
// Thread-safety: as every table object, used by one thread at a time.
#ifndef ZEP_TABLES_ZEPCFGTAB_H_
#define ZEP_TABLES_ZEPCFGTAB_H_

#include "axo/base/trk1.h"
#include "config/zepctele.h"
#include "foundation/zepllst.h"

// Base: the table's zep_<t>_base; Elem: the row element class; build: makes
// the rows (null when the configuration stayed locked past the wait limit).
template <class Base, class Elem, ZEPLLST_LinkedList* (*build)()>
class ZEPCFGTAB_agent : public Base {
 public:
  using Base::Base;

  // Builds the rows of this request; the destruction hook releases them.
  void TakeSampleConstructor() { configRows_ = build(); }
  void TakeSampleDestructor() {
    delete configRows_;
    configRows_ = nullptr;
  }
  // Offers every row; AXO_RC_BUSY when none could be built.
  unsigned int TakeSample() override {
    TRK1_FlowScope flow(Base::description().unit, "TakeSample");
    if (configRows_ == nullptr) return flow.exitWith(static_cast<unsigned int>(AXO_RC_BUSY));
    ZEPCTELE_publishRows<Elem>(this, configRows_);
    return flow.exitWith(0u);
  }

 private:
  ZEPLLST_LinkedList* configRows_ = nullptr;  // owned
};

#endif  // ZEP_TABLES_ZEPCFGTAB_H_
