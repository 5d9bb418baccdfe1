// ZEPMATT: the table's description, the registration of message-count
// situations with the data computer, and the table's sample.
#include "tables/zepmatt.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "axo/process/axo.h"
#include "foundation/zepllst.h"
#include "foundation/zepstrut.h"
#include "situations/zepdc.h"
#include "situations/zepdcmc.h"
#include "situations/zepdcrow.h"
#include "situations/zeppelem.h"

TRK1_UNIT(zepmatt_unit, "ZEPMATT");

ZEPTABLE_DEFINE_DESCRIPTION(zepmatt, zepmatt_unit, 10);

// Creates the manager; from then on the message counters push their event
// rows through it.
unsigned int zep_zepmatt_init() {
  const unsigned int rc = zep_zepmatt_manager::Init();
  if (zep_zepmatt_manager::staticManager != nullptr) {
    ZEPDCMC_MessageCounter::setEventSink(&zep_zepmatt_manager::EventArrived);
  }
  return rc;
}

namespace {

constexpr int VALUE_WIDTH = 64;

// The eight values of a message-count situation as the conditions of one
// request give them.
struct SituationValues {
  // Texts blank-padded to 64 characters, or "*"; empty while no condition
  // named them. An operation without a condition is the wildcard: every
  // operation of the service matches.
  char clientAddress[VALUE_WIDTH + 1] = "";
  char service[VALUE_WIDTH + 1] = "";
  char operation[VALUE_WIDTH + 1] = "*";
  int32_t interval = -1;
  int32_t limit = -1;
  uint8_t comparator = ZEPDCMC_MessageCounter::COMPARATOR_NONE;
  bool malformed = false;  // a condition could not be read

  bool valid() const {
    return !malformed && clientAddress[0] != '\0' && service[0] != '\0' && interval != -1 &&
           limit != -1 && comparator != ZEPDCMC_MessageCounter::COMPARATOR_NONE;
  }

  // Writes into `out` the columns a situation needs but has no condition
  // on ("RMIPADDR, TMINT"); empty when none is missing.
  void missingConditions(char* out, size_t size) const {
    const struct {
      bool missing;
      const char* column;
    } needed[] = {{clientAddress[0] == '\0', "RMIPADDR"},
                  {service[0] == '\0', "PORTNAME"},
                  {interval == -1, "TMINT"},
                  {limit == -1, "MSGCNT"}};
    size_t used = 0;
    out[0] = '\0';
    for (const auto& n : needed) {
      if (!n.missing || used >= size) continue;
      const int w = std::snprintf(out + used, size - used, "%s%s", used > 0 ? ", " : "", n.column);
      if (w > 0) used += static_cast<size_t>(w);
    }
  }
};

bool isTextType(int dataType) { return dataType == FQX1_CHAR || dataType == FQX1_CSTRING; }

// Reads the value of a numeric condition: integer types by their length (2
// bytes 16-bit, 4 bytes 32-bit, 8 bytes 64-bit), text types as a decimal
// number. False for a value that is too short for its type, not a number, or
// outside 32 bits; nothing is read past valueLen.
bool readNumber(const FQX1_FILTERINFO* term, int32_t* out) {
  if (term->value == nullptr || term->valueLen <= 0) return false;
  int64_t value = 0;
  if (isTextType(term->dataType)) {
    char text[32];
    if (term->valueLen >= static_cast<int>(sizeof(text))) return false;
    std::memcpy(text, term->value, static_cast<size_t>(term->valueLen));
    text[term->valueLen] = '\0';
    char* end = nullptr;
    errno = 0;
    long long parsed = std::strtoll(text, &end, 10);
    if (end == text || *end != '\0' || errno != 0) return false;
    value = parsed;
  } else if (term->valueLen == 2) {
    int16_t v;
    std::memcpy(&v, term->value, sizeof(v));
    value = v;
  } else if (term->valueLen == 4) {
    int32_t v;
    std::memcpy(&v, term->value, sizeof(v));
    value = v;
  } else if (term->valueLen == 8) {
    int64_t v;
    std::memcpy(&v, term->value, sizeof(v));
    value = v;
  } else {
    return false;
  }
  if (value < INT32_MIN || value > INT32_MAX) return false;
  *out = static_cast<int32_t>(value);
  return true;
}

// Comparator code of a MSGCNT condition's compare operator.
uint8_t comparatorOf(short compareOper) {
  switch (compareOper) {
    case FQX1_GE:
      return 1;
    case FQX1_LE:
      return 3;
    case FQX1_LT:
      return 2;
    case FQX1_GT:
      return 0;
    default:
      return ZEPDCMC_MessageCounter::COMPARATOR_NONE;
  }
}

// Stores a PORTNAME, OPNAME or RMIPADDR condition. Only equality can select
// messages by these columns; any other operator makes the situation unusable.
void readText(const FQX1_FILTERINFO* term, char (&dst)[VALUE_WIDTH + 1], bool* malformed) {
  const bool wildcard = term->compareOper == FQX1_EQ &&
                        (term->valueLen == 0 ||
                         (term->valueLen == 1 && term->value != nullptr && term->value[0] == '*'));
  if (wildcard) {
    std::snprintf(dst, sizeof(dst), "*");
    return;
  }
  if (term->compareOper != FQX1_EQ || term->value == nullptr || term->valueLen < 0) {
    *malformed = true;
    return;
  }
  ZEPSTRUT_stringUtil::memcpyWithPad(dst, term->value, static_cast<unsigned>(term->valueLen),
                                     VALUE_WIDTH, ' ');
  dst[VALUE_WIDTH] = '\0';
}

// Writes the detail records of one condition's value.
void traceValue(const FQX1_FILTERINFO* term) {
  if (!TRK1_On(&zepmatt_unit, TRK1_DETAIL)) return;
  const int len = term->valueLen < 0 ? 0 : term->valueLen;
  const char* value = term->value == nullptr ? "" : term->value;
  int32_t number = 0;
  if (!isTextType(term->dataType)) readNumber(term, &number);
  switch (term->dataType) {
    case FQX1_INTEGER:
      TRK1_Printf(&zepmatt_unit, __LINE__, "Type INTEGER : %d  ,", number);
      break;
    case FQX1_SMALL:
      TRK1_Printf(&zepmatt_unit, __LINE__, "Type SMALL : %d  ,", number);
      break;
    case FQX1_CSTRING:
      TRK1_Printf(&zepmatt_unit, __LINE__, "Type C String : %.*s  ,", len, value);
      TRK1_Printf(&zepmatt_unit, __LINE__, "valueLen : %d ,", term->valueLen);
      return;
    case FQX1_CHAR:
      TRK1_Printf(&zepmatt_unit, __LINE__, "Type Char  ,");
      TRK1_Printf(&zepmatt_unit, __LINE__, "Char Value : %.*s   ,", len, value);
      break;
    case FQX1_LONG:
      TRK1_Printf(&zepmatt_unit, __LINE__, "Type LONG : %d  ,", number);
      break;
    default:
      TRK1_Printf(&zepmatt_unit, __LINE__, "Unknown Datatype: %d ,", term->dataType);
      return;
  }
  TRK1_Printf(&zepmatt_unit, __LINE__, "valueLen : %d  ,", term->valueLen);
}

// Reads the situation of `sampler`'s request into `values`. Returns false when
// the request is not a situation.
bool readSituation(vexor* sampler, SituationValues* values) {
  const int sampleType = sampler->GetSampleType();
  if (sampleType != AXO_SAMPLE_SITUATION) return false;
  if (TRK1_On(&zepmatt_unit, TRK1_DETAIL)) {
    TRK1_Printf(&zepmatt_unit, __LINE__, "Situation Name : %s \n", sampler->GetSituationName());
    TRK1_Printf(&zepmatt_unit, __LINE__, "sampletype : %d\n", sampleType);
  }
  FQX1_FILTERINFO* term = nullptr;
  // GetFilterInfo starts again from the first term after reporting the end,
  // so the destruction hook reads the same conditions.
  while (sampler->GetFilterInfo(&term) != FQX1_NO_MORE_TERMS) {
    if (term == nullptr) continue;
    if (TRK1_On(&zepmatt_unit, TRK1_DETAIL)) {
      TRK1_Printf(&zepmatt_unit, __LINE__, "Column Name : %s ,", term->columnName);
      TRK1_Printf(&zepmatt_unit, __LINE__, "Logical Operator : %d  ,", term->logicalOper);
      TRK1_Printf(&zepmatt_unit, __LINE__, "Compare Operator : %d  ,", term->compareOper);
    }
    // Alternatives cannot be counted: every condition must hold.
    if (term->logicalOper == FQX1_OR) values->malformed = true;
    const char* column = term->columnName;
    int32_t number = 0;
    if (std::strcmp(column, "PORTNAME") == 0) {
      readText(term, values->service, &values->malformed);
    } else if (std::strcmp(column, "OPNAME") == 0) {
      readText(term, values->operation, &values->malformed);
    } else if (std::strcmp(column, "RMIPADDR") == 0) {
      readText(term, values->clientAddress, &values->malformed);
    } else if (std::strcmp(column, "TMINT") == 0) {
      // Kept as given: the data computer normalises it for the window and
      // shows it unchanged in TMINT, where this condition selects it.
      if (readNumber(term, &number) && number != -1) {
        values->interval = number;
      } else {
        values->malformed = true;
      }
    } else if (std::strcmp(column, "MSGCNT") == 0) {
      if (readNumber(term, &number)) {
        values->limit = number;
        values->comparator = comparatorOf(term->compareOper);
      } else {
        values->malformed = true;
      }
    }
    traceValue(term);
  }
  return true;
}

std::atomic<ZEPDC_DataComputer*> dataComputer{nullptr};

// The agent's origin node, "" while the framework has none.
const char* originNode() {
  const char* origin = AXO_GetOriginnode();
  return origin == nullptr ? "" : origin;
}

}  // namespace

void zep_zepmatt_setDataComputer(ZEPDC_DataComputer* dc) { dataComputer.store(dc); }

void zep_zepmatt_agent::TakeSampleConstructor() {
  TRK1_FlowScope flow(&zepmatt_unit, "TakeSampleConstructor");
  SituationValues v;
  ZEPDC_DataComputer* dc = dataComputer.load();
  if (readSituation(this, &v)) {
    if (!v.valid()) {
      char missing[64];
      v.missingConditions(missing, sizeof(missing));
      if (missing[0] != '\0') {
        TRK1_Trace(&zepmatt_unit, TRK1_ERROR,
                   "ZEP0409E Situation %s refused: it has no condition on %s\n", GetSituationName(),
                   missing);
        RefuseRequest(std::string("situation refused: it has no condition on ") + missing);
      }
      TRK1_Trace(&zepmatt_unit, TRK1_DETAIL,
                 "Information is not valid for a DataComputer situation\n");
    } else if (dc == nullptr) {
      TRK1_Trace(&zepmatt_unit, TRK1_ERROR, "No data computer for situation %s\n",
                 GetSituationName());
    } else {
      originNode_ = originNode();
      registered_ =
          dc->CreateSituation(v.clientAddress, v.service, v.operation, v.interval, v.limit,
                              v.comparator, originNode_.c_str(), GetSituationName());
    }
  }
}

void zep_zepmatt_agent::TakeSampleDestructor() {
  TRK1_FlowScope flow(&zepmatt_unit, "TakeSampleDestructor");
  SituationValues v;
  ZEPDC_DataComputer* dc = dataComputer.load();
  if (readSituation(this, &v)) {
    if (!v.valid()) {
      TRK1_Trace(&zepmatt_unit, TRK1_DETAIL,
                 "Information is not valid for a DataComputer situation\n");
    } else if (registered_ && dc != nullptr) {
      // The origin node the situation was registered under, even if the
      // framework's has changed since.
      dc->DeleteSituation(v.clientAddress, v.service, v.operation, v.interval, v.limit,
                          v.comparator, originNode_.c_str(), GetSituationName());
    }
  }
  registered_ = false;
}

unsigned int zep_zepmatt_agent::TakeSample() {
  TRK1_FlowScope flow(&zepmatt_unit, "TakeSample");
  const char* origin = AXO_GetOriginnode();
  const unsigned originLength = origin == nullptr ? 0 : static_cast<unsigned>(std::strlen(origin));
  ZEPLLST_LinkedList list;
  if (ZEPDC_DataComputer* dc = dataComputer.load()) dc->GetCDT(&list);
  TRK1_Trace(&zepmatt_unit, TRK1_DETAIL, "Number of rows returned = %d\n", list.size());
  unsigned int status = 0;
  for (ZEPLELEM_listElem* e = list.front(); e != nullptr; e = list.next(e)) {
    auto* dataRow =
        static_cast<ZEPDCROW_DataRow*>(static_cast<ZEPPELEM_PayloadElement*>(e)->getPayload());
    zep_zepmatt_data_t* row = dataRow->getRow();
    ZEPSTRUT_stringUtil::memcpyWithPad(row->originnode, origin, originLength,
                                       sizeof(row->originnode), ' ');
    ZEPSTRUT_stringUtil::memcpyWithPad(row->hostname, origin, originLength, sizeof(row->hostname),
                                       ' ');
    if (status == 0) status = AddData(row, 1);
    delete dataRow;  // and its row record; the list deletes the element
  }
  return flow.exitWith(status);
}
