// The table pattern: the catalogue as the framework reads it, row hand-over
// through the request's filter, the object's hooks, event pushes and the
// row dump. Behaviour is checked on a small table built from the same
// pattern, whose sample offers rows chosen by each test.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "axo/axo.h"
#include "axo/request.h"
#include "axo/trk1.h"
#include "axo/vexor.h"
#include "runtime/zepmain.h"
#include "tables/zepdcmt.h"
#include "tables/zepdct.h"
#include "tables/zepfct.h"
#include "tables/zepflct.h"
#include "tables/zepinv.h"
#include "tables/zepmatt.h"
#include "tables/zepsmt.h"
#include "tables/zeptable.h"

// --- the test table ------------------------------------------------------------

#define ZEPTEST_COLUMNS(X)                 \
  X(ORIGINNODE, originnode, TEXT, 32, 0)   \
  X(MSGLOC, msgloc, SHORT, 2, 32)          \
  X(MSGCOUNT, msgcount, LONG, 4, 36)       \
  X(SITNAME, sitname, TEXT, 32, 40)

ZEPROWS_DEFINE_ROW(zep_zeptest_data_t, ZEPTEST_COLUMNS, 72);
ZEPTABLE_DECLARE_TABLE(zeptest, "ZEPTEST");

namespace {
std::vector<zep_zeptest_data_t> g_sample_rows;  // what the next sample offers
int g_constructed = 0;
int g_destructed = 0;
std::string g_table_seen_by_destructor;
}  // namespace

class zep_zeptest_agent : public zep_zeptest_base {
 public:
  using zep_zeptest_base::zep_zeptest_base;
  void TakeSampleConstructor() { ++g_constructed; }
  void TakeSampleDestructor() {
    ++g_destructed;
    g_table_seen_by_destructor = GetTable();  // the base is still whole
  }
  unsigned int TakeSample() override {
    for (const zep_zeptest_data_t& row : g_sample_rows) AddData(&row, 1);
    return 0;
  }
};

TRK1_UNIT(zeptest_unit, "ZEPTEST");
ZEPTABLE_DEFINE_DESCRIPTION(zeptest, zeptest_unit, 2);
ZEPTABLE_DEFINE_INIT(zeptest);

namespace {

void Pad(char* column, size_t width, const char* text) {
  std::memset(column, ' ', width);
  std::memcpy(column, text, std::min(width, std::strlen(text)));
}

zep_zeptest_data_t TestRow(const char* node, int16_t msgloc, int32_t msgcount,
                           const char* sitname = "") {
  zep_zeptest_data_t row;
  Pad(row.originnode, sizeof row.originnode, node);
  row.msgloc = msgloc;
  row.msgcount = msgcount;
  Pad(row.sitname, sizeof row.sitname, sitname);
  return row;
}

std::vector<std::string> Nodes(const std::vector<axo::Row>& rows) {
  std::vector<std::string> nodes;
  for (const axo::Row& row : rows) nodes.push_back(row[0].second.text);
  return nodes;
}

class ZepTableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(0u, zep_zeptest_init());
    g_sample_rows.clear();
    g_constructed = g_destructed = 0;
  }
  void TearDown() override {
    axo::resetSituationsForTesting();
    AXO_FailInsertRowForTesting(0, 0);
    TRK1_ResetLevels();
  }

  std::vector<axo::Row> Query(const std::vector<axo::FilterTerm>& terms) {
    axo::Query query;
    query.table = "ZEPTEST";
    query.terms = terms;
    std::vector<axo::Row> rows;
    std::string error;
    EXPECT_EQ(axo::kOk, axo::runQuery(query, &rows, &error)) << error;
    return rows;
  }
};

// --- the seven tables ---------------------------------------------------------

struct CatalogueCase {
  const char* table;
  int columns;
  int rowSize;
};

TEST(ZepTableCatalogue, SevenTablesDescribeThemselvesToTheFramework) {
  EXPECT_EQ(0ul, LoadAgents());
  const CatalogueCase cases[] = {{"ZEPSMT", 22, 1004}, {"ZEPFLCT", 12, 828},
                                 {"ZEPINV", 28, 780},  {"ZEPDCMT", 9, 302},
                                 {"ZEPDCT", 8, 176},   {"ZEPFCT", 9, 364},
                                 {"ZEPMATT", 11, 344}};
  for (const CatalogueCase& c : cases) {
    SCOPED_TRACE(c.table);
    axo::TableDescription d;
    std::string error;
    ASSERT_EQ(axo::kOk, axo::describeTable(c.table, &d, &error)) << error;
    EXPECT_EQ("ZEP", d.application);
    ASSERT_EQ(static_cast<size_t>(c.columns), d.columns.size());
    EXPECT_EQ("originnode", d.columns[0].name);
    EXPECT_EQ(9, d.columns[0].type);
    EXPECT_EQ(32, d.columns[0].width);
    EXPECT_EQ(0, d.columns[0].offset);
    // Columns follow each other without overlap and stay inside the record;
    // integers lie on their natural boundary.
    int end = 0;
    std::set<std::string> attributes;
    for (const axo::ColumnDescription& col : d.columns) {
      EXPECT_GE(col.offset, end) << col.name;
      if (col.type != 9) {
        EXPECT_EQ(0, col.offset % col.width) << col.name;
      }
      end = col.offset + col.width;
      EXPECT_TRUE(attributes.insert(col.attribute).second) << col.attribute;
    }
    EXPECT_LE(end, c.rowSize);
    EXPECT_GT(end + 4, c.rowSize);
  }
  EXPECT_EQ(AXO_FindTableManager("ZEPSMT"), zep_zepsmt_static_manager);
  EXPECT_EQ(AXO_FindTableManager("ZEPMATT"), zep_zepmatt_static_manager);
  // A second load keeps the managers that samplers and events already use.
  zep_zepmatt_manager* first = zep_zepmatt_static_manager;
  EXPECT_EQ(0ul, LoadAgents());
  EXPECT_EQ(first, zep_zepmatt_static_manager);
}

TEST(ZepTableCatalogue, ColumnInfoOutsideTheTableLeavesInfoUntouched) {
  ASSERT_EQ(0u, zep_zepinv_init());
  RequestDetail request;
  ContextInfo context;
  vexor* object = zep_zepinv_static_manager->CreateVexor(&request, &context);
  ASSERT_NE(nullptr, object);
  const char* kUntouched = "untouched";
  for (int index : {-1, object->NumColumns()}) {
    ColumnInfo info = {kUntouched, 1, 2, 3};
    EXPECT_EQ(0x21060007u, object->GetColumnInfo(&info, index));
    EXPECT_EQ(kUntouched, info.name);
    EXPECT_EQ(1, info.offset);
    EXPECT_EQ(2, info.width);
    EXPECT_EQ(3, info.type);
  }
  ColumnInfo last;
  ASSERT_EQ(0u, object->GetColumnInfo(&last, 27));
  EXPECT_STREQ("intstatus", last.name);
  EXPECT_EQ(776, last.offset);
  EXPECT_EQ(5, last.type);
  delete object;
}

// --- rows through the request's filter -------------------------------------------

TEST_F(ZepTableTest, QueryDecodesRowsThroughTheColumnDescriptions) {
  g_sample_rows = {TestRow("node-a", 2, 70000, "S1"), TestRow("node-b", -3, -1)};
  std::vector<axo::Row> rows = Query({});
  ASSERT_EQ(2u, rows.size());
  EXPECT_EQ("node-a", rows[0][0].second.text);
  EXPECT_EQ("MSGLOC", rows[0][1].first);
  EXPECT_EQ(2, rows[0][1].second.number);
  EXPECT_EQ(70000, rows[0][2].second.number);
  EXPECT_EQ("S1", rows[0][3].second.text);
  EXPECT_EQ(-3, rows[1][1].second.number);
  EXPECT_EQ(-1, rows[1][2].second.number);
}

TEST_F(ZepTableTest, FilterTermsSelectByEachColumnType) {
  g_sample_rows = {TestRow("node-a", 1, 10), TestRow("node-b", 2, 20),
                   TestRow("node-c", 3, 30)};
  struct Case {
    const char* attribute;
    const char* op;
    const char* value;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {"MSGLOC", "=", "2", {"node-b"}},
      {"MSGLOC", ">=", "2", {"node-b", "node-c"}},
      {"MSGLOC", "<", "2", {"node-a"}},
      {"MSGCOUNT", ">", "20", {"node-c"}},
      {"MSGCOUNT", "<=", "20", {"node-a", "node-b"}},
      {"MSGCOUNT", "!=", "20", {"node-a", "node-c"}},
      {"ORIGINNODE", "=", "node-b", {"node-b"}},  // column blanks ignored
      {"ORIGINNODE", ">", "node-a", {"node-b", "node-c"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.attribute) + c.op + c.value);
    EXPECT_EQ(c.expected, Nodes(Query({{c.attribute, c.op, c.value}})));
  }
  EXPECT_EQ(std::vector<std::string>{"node-b"},
            Nodes(Query({{"MSGLOC", ">=", "2"}, {"MSGCOUNT", "<", "30"}})));
}

TEST_F(ZepTableTest, ColumnIsExceptionMatchesUpperCaseAttributesOnly) {
  RequestDetail request;
  ContextInfo context;
  vexor* object = zep_zeptest_static_manager->CreateVexor(&request, &context);
  ASSERT_NE(nullptr, object);
  zep_zeptest_data_t row = TestRow("node-a", 7, 9);
  EXPECT_NE(0u, object->ColumnIsException(&row, "ORIGINNODE", FQX1_EQ, "node-a"));
  EXPECT_EQ(0u, object->ColumnIsException(&row, "originnode", FQX1_EQ, "node-a"));
  EXPECT_EQ(0u, object->ColumnIsException(&row, "NOSUCH", FQX1_EQ, "node-a"));
  EXPECT_NE(0u, object->ColumnIsException(&row, "MSGLOC", FQX1_EQ, "7"));
  EXPECT_NE(0u, object->ColumnIsException(&row, "MSGCOUNT", FQX1_LT, "10"));
  EXPECT_EQ(0u, object->ColumnIsException(&row, "MSGCOUNT", FQX1_GT, "10"));
  delete object;
}

TEST_F(ZepTableTest, AddDataStopsAtTheFirstFailingInsert) {
  RequestDetail request;
  const int16_t two = 2;
  ASSERT_EQ(0u, request.AddFilterTerm(FQX1_AND, FQX1_EQ, "MSGLOC", FQX1_SMALL, &two, 2));
  ContextInfo context;
  auto* object =
      static_cast<zep_zeptest_agent*>(zep_zeptest_static_manager->CreateVexor(&request, &context));
  ASSERT_NE(nullptr, object);
  const zep_zeptest_data_t rows[] = {TestRow("filtered", 1, 0), TestRow("refused", 2, 0),
                                     TestRow("not-offered", 2, 0)};
  AXO_FailInsertRowForTesting(1, 0x7777);
  EXPECT_EQ(0x7777u, object->AddData(rows, 3));
  EXPECT_EQ(0, object->count);

  // Without a failure the same rows pass the filter and both are inserted.
  EXPECT_EQ(0u, object->AddData(rows, 3));
  ASSERT_EQ(2, object->count);
  EXPECT_EQ(0, std::memcmp(&rows[1], object->GetRow(0), sizeof rows[1]));
  EXPECT_EQ(0, std::memcmp(&rows[2], object->GetRow(1), sizeof rows[2]));
  delete object;
}

TEST_F(ZepTableTest, HooksRunAroundTheObjectsLife) {
  g_table_seen_by_destructor.clear();
  g_sample_rows = {TestRow("node-a", 1, 1)};
  EXPECT_EQ(1u, Query({}).size());
  // (The framework may create further objects to read the column descriptions.)
  EXPECT_GE(g_constructed, 1);
  EXPECT_EQ(g_constructed, g_destructed);
  EXPECT_EQ("ZEPTEST", g_table_seen_by_destructor);
}

// --- events --------------------------------------------------------------------------

TEST_F(ZepTableTest, EventArrivedBeforeInitPushesNothing) {
  zep_zeptest_manager* saved = zep_zeptest_static_manager;
  zep_zeptest_static_manager = nullptr;
  const zep_zeptest_data_t row = TestRow("node-a", 1, 1, "S1");
  EXPECT_EQ(0u, zep_zeptest_manager::EventArrived(&row, 1));
  zep_zeptest_static_manager = saved;
}

TEST_F(ZepTableTest, PushedRowsRaiseAndClearTheSituationTheyName) {
  std::string error;
  axo::SituationSpec spec{"S1", "ZEPTEST", 60, {{"MSGCOUNT", ">=", "10"}}};
  ASSERT_EQ(axo::kOk, axo::createSituation(spec, &error)) << error;
  spec.name = "S2";
  ASSERT_EQ(axo::kOk, axo::createSituation(spec, &error)) << error;
  const int64_t before = axo::eventsSince(0).empty() ? 0 : axo::eventsSince(0).back().id;

  // One push reaches every live sampler; each decides from its own row.
  const zep_zeptest_data_t rows[] = {TestRow("node-a", 1, 12, "S1"),
                                     TestRow("node-a", 1, 3, "S2")};
  EXPECT_EQ(0u, zep_zeptest_manager::EventArrived(rows, 2));
  std::vector<axo::Event> events = axo::eventsSince(before);
  ASSERT_EQ(1u, events.size());
  EXPECT_EQ("S1", events[0].situation);
  EXPECT_TRUE(events[0].raised);

  const zep_zeptest_data_t cleared = TestRow("node-a", 1, 4, "S1");
  EXPECT_EQ(0u, zep_zeptest_manager::EventArrived(&cleared, 1));
  events = axo::eventsSince(before);
  ASSERT_EQ(2u, events.size());
  EXPECT_FALSE(events[1].raised);

  // The samplers' buffers are emptied after each push.
  ASSERT_EQ(axo::kOk, axo::deleteSituation("S1", &error));
  ASSERT_EQ(axo::kOk, axo::deleteSituation("S2", &error));
  EXPECT_EQ(0u, zep_zeptest_manager::EventArrived(&cleared, 1));
  EXPECT_EQ(2u, axo::eventsSince(before).size());
}

// --- row dump ------------------------------------------------------------------------

TEST_F(ZepTableTest, PrintSelfDumpsEveryColumnAtBit16Only) {
  RequestDetail request;
  request.interval = 30;
  ContextInfo context;
  auto* object =
      static_cast<zep_zeptest_agent*>(zep_zeptest_static_manager->CreateVexor(&request, &context));
  ASSERT_NE(nullptr, object);
  const zep_zeptest_data_t row = TestRow("node-a", -2, 123456);
  ASSERT_EQ(0u, object->AddData(&row, 1));

  TRK1_Capture quiet;
  object->PrintSelf();
  EXPECT_TRUE(quiet.messages().empty());

  TRK1_SetLevel("ZEPTEST", TRK1_DUMP);
  TRK1_Capture capture;
  object->PrintSelf();
  EXPECT_EQ(0u, capture.messages()[0].rfind("zep_zeptest_base @", 0));
  EXPECT_TRUE(capture.contains("\t::appl=ZEP,table=ZEPTEST,interval=30000,samptype="));
  EXPECT_TRUE(capture.contains("\t\tcount=1, allocated=2, allocSize=2"));
  EXPECT_TRUE(capture.contains("\t\toriginnode=\"node-a" + std::string(26, ' ') + "\""));
  EXPECT_TRUE(capture.contains("\t\tmsgloc=-2"));
  EXPECT_TRUE(capture.contains("\t\tmsgcount=123456"));
  EXPECT_EQ("}", capture.messages().back());
  delete object;
}

}  // namespace
