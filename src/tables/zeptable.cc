// The table pattern: what every table sampler and manager does, driven by
// the table's description. Records go to the trace unit of the table's own
// module, so that a table's rows are dumped with that table's level.
#include "tables/zeptable.h"

#include <cstring>

TRK1_UNIT(zeptable_unit, "ZEPTABLE");

namespace {

int16_t ReadShort(const char* at) {
  int16_t value;
  std::memcpy(&value, at, sizeof value);
  return value;
}

int32_t ReadLong(const char* at) {
  int32_t value;
  std::memcpy(&value, at, sizeof value);
  return value;
}

}  // namespace

ZEPTABLE_sampler::ZEPTABLE_sampler(RequestDetail* request, ContextInfo* context,
                                   TableManager* manager, const ZEPTABLE_description& description)
    : vexor(request, context, manager, description.rowSize, description.allocSize),
      description_(description) {}

int ZEPTABLE_sampler::NumColumns() { return description_.numColumns; }

unsigned int ZEPTABLE_sampler::GetColumnInfo(ColumnInfo* info, int index) {
  if (index < 0 || index >= description_.numColumns || info == nullptr) {
    return ZEPTABLE_RC_BAD_COLUMN;
  }
  const ZEPROWS_column& column = description_.columns[index];
  info->name = column.name;
  info->offset = column.offset;
  info->width = column.width;
  info->type = column.type;
  return 0;
}

unsigned int ZEPTABLE_sampler::ColumnIsException(const void* row, const char* attribute,
                                                 _IntfOper oper, const char* value) {
  if (row == nullptr || attribute == nullptr || value == nullptr) return 0;
  for (int i = 0; i < description_.numColumns; ++i) {
    const ZEPROWS_column& column = description_.columns[i];
    if (std::strcmp(column.attribute, attribute) != 0) continue;
    const char* at = static_cast<const char*>(row) + column.offset;
    switch (column.type) {
      case ZEPROWS_TEXT:
        return IsException(oper, at, value, column.width);
      case ZEPROWS_SHORT:
        return IsException(oper, static_cast<short>(ReadShort(at)), value);
      default:
        return IsException(oper, static_cast<int>(ReadLong(at)), value);
    }
  }
  return 0;
}

unsigned int ZEPTABLE_sampler::AddRows(const void* rows, int n) {
  TRK1_Unit* unit = description_.unit;
  const bool detail = TRK1_On(unit, TRK1_DETAIL);
  const char* row = static_cast<const char*>(rows);
  unsigned int status = 0;
  for (int i = 0; i < n && status == 0; ++i, row += description_.rowSize) {
    if (CheckForException(row) != 0) {
      if (detail) TRK1_Printf(unit, __LINE__, "Passing row %d to InsertRow().", i);
      status = InsertRow(row);
    }
  }
  return status;
}

void ZEPTABLE_sampler::PrintSelf() {
  TRK1_Unit* unit = description_.unit;
  if (!TRK1_On(unit, TRK1_DUMP)) return;
  TRK1_Printf(unit, __LINE__, "%s @%p <%u,%u>\n", description_.baseName, static_cast<void*>(this),
              flags, handle);
  TRK1_Printf(unit, __LINE__, "\t::appl=%s,table=%s,interval=%d,samptype=%d\n",
              description_.application, description_.table, GetSampleInterval() * 1000,
              GetSampleType());
  DumpThresholds();
  TRK1_Printf(unit, __LINE__, "\t_data {\n");
  TRK1_Printf(unit, __LINE__, "\t\tcount=%d, allocated=%d, allocSize=%d\n", count, allocated,
              allocSize);
  for (int i = 0; i < count; ++i) {
    const char* row = GetRow(i);
    if (row != nullptr) PrintRow(row);
  }
  TRK1_Printf(unit, __LINE__, "}\n");
}

void ZEPTABLE_sampler::PrintRow(const char* row) {
  TRK1_Unit* unit = description_.unit;
  TRK1_Printf(unit, __LINE__, "\t\t{\n");
  for (int i = 0; i < description_.numColumns; ++i) {
    const ZEPROWS_column& column = description_.columns[i];
    const char* at = row + column.offset;
    switch (column.type) {
      case ZEPROWS_TEXT:
        TRK1_Printf(unit, __LINE__, "\t\t%s=\"%.*s\"\n", column.name,
                    static_cast<int>(column.width), at);
        break;
      case ZEPROWS_SHORT:
        TRK1_Printf(unit, __LINE__, "\t\t%s=%hd\n", column.name, ReadShort(at));
        break;
      default:
        TRK1_Printf(unit, __LINE__, "\t\t%s=%d\n", column.name, static_cast<int>(ReadLong(at)));
        break;
    }
  }
  TRK1_Printf(unit, __LINE__, "\t\t}\n");
}

ZEPTABLE_managerBase::ZEPTABLE_managerBase(const ZEPTABLE_description& description)
    : TableManager(description.application, description.table), description_(description) {}

unsigned int ZEPTABLE_managerBase::AddRowsToEvent(const void* rows, int n) {
  TRK1_FlowScope flow(&zeptable_unit, "AddDataToEvent");
  unsigned int result = 0;
  {
    OSB1_ScopedLock guard(GetLock());
    LinkedListIter samplers(GetVexorList());
    for (vexor* sampler = samplers.Next(); sampler != nullptr; sampler = samplers.Next()) {
      const unsigned int h = sampler->GetHandle();
      if (sampler->UseHandle(h) != 0) continue;  // being destroyed
      // Only this manager's CreateVexor puts samplers on its list.
      auto* table_sampler = dynamic_cast<ZEPTABLE_sampler*>(sampler);
      if (table_sampler != nullptr) table_sampler->AddRows(rows, n);
      const unsigned int rc = sampler->Dispatch();
      if (rc != 0) result = rc;
      sampler->ClearRows();
      RKL1_Drop(h);
    }
  }
  return flow.exitWith(result);
}
