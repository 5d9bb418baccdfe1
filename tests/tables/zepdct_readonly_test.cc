// Reading the data collectors' global settings never changes the
// configuration file: neither the throw-away sampler the framework builds to
// list the columns, nor a sample.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "axo/vexor.h"
#include "foundation/zepinstall_fixture.h"
#include "runtime/zepdisp.h"
#include "tables/zepdct.h"

namespace {

class ZepDctReadOnlyTest : public zeptest::InstallTreeTest {
 protected:
  ZepDctReadOnlyTest() : InstallTreeTest(1143553200) {}
};

TEST_F(ZepDctReadOnlyTest, ListingColumnsAndSamplingLeaveTheFileByteIdentical) {
  const std::string config =
      "# maintained by the operators\nzep.config.version=7\n1.server1.monitor=on\n";
  tmp_.write("install/ZEP/config/ZEP.dc.properties", config);
  ZEPDISP_dispatcher::configProperties.setPropertyFilename(configFile().c_str());

  RequestDetail request;
  ContextInfo context;
  {
    ZEPTABLE_object<zep_zepdct_agent> table(&request, &context, nullptr);
    ColumnInfo info{};
    EXPECT_EQ(table.GetColumnInfo(&info, table.NumColumns() - 1), 0u);
    // The missing settings show as their defaults, the version as written.
    ASSERT_EQ(table.TakeSample(), 0u);
    ASSERT_EQ(table.count, 1);
    zep_zepdct_data_t row;
    std::memcpy(&row, table.GetRow(0), sizeof(row));
    EXPECT_EQ(row.dconoff, 1);
    EXPECT_EQ(row.trconoff, 0);  // "off"
    EXPECT_EQ(row.loglevel, 1);  // "error"
    EXPECT_EQ(std::string(row.tablever, 8), "7       ");
  }
  EXPECT_EQ(tmp_.read("install/ZEP/config/ZEP.dc.properties"), config);
}

}  // namespace
