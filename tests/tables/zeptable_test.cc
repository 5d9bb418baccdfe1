// The table pattern, on one of the agent's tables: its manager is created
// once, its columns are described to the framework within bounds, and a
// row's column is compared through the reader of its own type.
#include "tables/zeptable.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <tuple>

#include "axo/tables/vexor.h"
#include "runtime/zepmain.h"
#include "tables/zepmatt.h"

namespace {

TEST(ZepTableTest, ColumnsAreDescribedAndComparedByTheirType) {
  EXPECT_EQ(0ul, LoadAgents());
  zep_zepmatt_manager* first = zep_zepmatt_static_manager;
  EXPECT_EQ(0ul, LoadAgents());  // a second load keeps the managers in use
  EXPECT_EQ(first, zep_zepmatt_static_manager);

  RequestDetail request;
  ContextInfo context;
  std::unique_ptr<vexor> object(zep_zepmatt_static_manager->CreateVexor(&request, &context));
  ASSERT_NE(nullptr, object);
  for (int index : {-1, object->NumColumns()}) {
    ColumnInfo info = {"untouched", 1, 2, 3};
    EXPECT_EQ(ZEPTABLE_RC_BAD_COLUMN, object->GetColumnInfo(&info, index));
    EXPECT_STREQ("untouched", info.name);
  }

  zep_zepmatt_data_t row;
  std::memset(&row, ' ', sizeof row);
  row.comparator = 3;  // 16 bits
  row.msgcnt = 70000;  // needs all 32 bits
  std::memcpy(row.sitname, "S1", 2);
  // (attribute, operator, value, passes); blanks are ignored, only attribute names match.
  for (const auto& [attribute, oper, value, passes] : {std::tuple{"COMPARATOR", FQX1_EQ, "3", true},
                                                       {"MSGCNT", FQX1_GE, "70000", true},
                                                       {"MSGCNT", FQX1_GT, "70000", false},
                                                       {"SITNAME", FQX1_EQ, "S1", true},
                                                       {"SITNAME", FQX1_GT, "S2", false},
                                                       {"sitname", FQX1_EQ, "S1", false},
                                                       {"NOSUCH", FQX1_EQ, "S1", false}}) {
    EXPECT_EQ(passes, object->ColumnIsException(&row, attribute, oper, value) != 0) << attribute;
  }
}

}  // namespace
