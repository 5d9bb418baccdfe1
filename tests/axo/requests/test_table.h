// A small table built the way the agent builds its tables, for the
// framework's tests: a text, a 16-bit, a 32-bit and a SITNAME column.
#ifndef TESTS_AXO_AXO_TEST_TABLE_H_
#define TESTS_AXO_AXO_TEST_TABLE_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "axo/base/osb1.h"
#include "axo/requests/request.h"
#include "axo/tables/vexor.h"

struct TestRow {
  char name[16];  // text, blank-padded
  int16_t small;
  int32_t big;       // natural alignment: offset 20
  char sitname[32];  // text, blank-padded
};
static_assert(offsetof(TestRow, big) == 20 && sizeof(TestRow) == 56);

inline TestRow MakeRow(const char* name, int16_t small, int32_t big, const char* sit = "") {
  TestRow r;
  memset(&r, ' ', sizeof(r));
  memcpy(r.name, name, strnlen(name, sizeof(r.name)));
  memcpy(r.sitname, sit, strnlen(sit, sizeof(r.sitname)));
  r.small = small;
  r.big = big;
  return r;
}

// How many samplers of one manager were destroyed, and the rows the last
// one could still hold then. Samplers of one table may run on several
// threads: they count under `mu`.
struct TestTableLog {
  std::mutex mu;
  int destroyed = 0;
  int lastAllocated = -1;
};

class TestVexor : public vexor {
 public:
  TestVexor(RequestDetail* request, ContextInfo* context, TableManager* manager, int alloc_size,
            const std::vector<TestRow>* source, TestTableLog* log, bool with_sitname,
            const unsigned int* sample_rc = nullptr)
      : vexor(request, context, manager, sizeof(TestRow), alloc_size),
        source_(source),
        log_(log),
        withSitname_(with_sitname),
        sampleRc_(sample_rc) {}
  ~TestVexor() override {
    std::lock_guard<std::mutex> guard(log_->mu);
    ++log_->destroyed;
    log_->lastAllocated = allocated;
  }

  unsigned int TakeSample() override {
    if (sampleRc_ != nullptr && *sampleRc_ != 0) return *sampleRc_;
    return AddData(source_->data(), static_cast<int>(source_->size()));
  }

  int NumColumns() override { return withSitname_ ? 4 : 3; }

  unsigned int GetColumnInfo(ColumnInfo* info, int index) override {
    static const ColumnInfo kColumns[] = {
        {"name", 0, 16, COLUMN_TYPE_TEXT},
        {"small", 16, 2, COLUMN_TYPE_SHORT},
        {"big", 20, 4, COLUMN_TYPE_LONG},
        {"sitname", 24, 32, COLUMN_TYPE_TEXT},
    };
    if (index < 0 || index >= NumColumns()) return AXO_RC_BAD_COLUMN;
    *info = kColumns[index];
    return 0;
  }

  unsigned int ColumnIsException(const void* row, const char* attribute, _IntfOper oper,
                                 const char* value) override {
    const TestRow* r = static_cast<const TestRow*>(row);
    if (strcmp(attribute, "NAME") == 0) return IsException(oper, r->name, value, 16);
    if (strcmp(attribute, "SMALL") == 0) return IsException(oper, r->small, value);
    if (strcmp(attribute, "BIG") == 0) return IsException(oper, r->big, value);
    if (strcmp(attribute, "SITNAME") == 0) return IsException(oper, r->sitname, value, 32);
    return 0;
  }

  // The agent's AddData: offer each row, stop at the first failed insert.
  unsigned int AddData(const TestRow* rows, int n) {
    unsigned int status = 0;
    for (int i = 0; i < n && status == 0; ++i) {
      if (CheckForException(&rows[i])) status = InsertRow(&rows[i]);
    }
    return status;
  }

 private:
  const std::vector<TestRow>* source_;
  TestTableLog* log_;
  bool withSitname_;
  const unsigned int* sampleRc_;
};

class TestManager : public TableManager {
 public:
  TestManager(const char* table, bool with_sitname)
      : TableManager("TST", table), withSitname_(with_sitname) {}

  vexor* CreateVexor(RequestDetail* request, ContextInfo* context) override {
    if (refuseSamplers) return nullptr;
    return new TestVexor(request, context, this, 4, &rows, &log, withSitname_, &sampleRc);
  }

  // The agent's AddDataToEvent: offer pushed rows to every live sampler.
  unsigned int AddDataToEvent(const TestRow* data, int n) {
    unsigned int result = 0;
    OSB1_ScopedLock guard(GetLock());
    LinkedListIter it(GetVexorList());
    while (vexor* v = it.Next()) {
      unsigned int h = v->GetHandle();
      if (v->UseHandle(h) != 0) continue;
      static_cast<TestVexor*>(v)->AddData(data, n);
      unsigned int rc = v->Dispatch();
      if (rc != 0) result = rc;
      v->count = 0;
      RKL1_Drop(h);
    }
    return result;
  }

  std::vector<TestRow> rows;  // what a sample produces
  TestTableLog log;
  bool refuseSamplers = false;  // CreateVexor fails
  unsigned int sampleRc = 0;    // when not 0, every sample answers it, with no rows

 private:
  bool withSitname_;
};

#endif  // TESTS_AXO_AXO_TEST_TABLE_H_
