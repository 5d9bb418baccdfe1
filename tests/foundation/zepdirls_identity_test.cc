// Directory listings follow their directory when it is deleted and created
// again under the same name.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "axo/trk1.h"
#include "foundation/zepdirls.h"
#include "foundation/zeptestdir.h"

namespace {

std::vector<std::string> namesOf(const ZEPDIRLS_dirList& list) {
  std::vector<std::string> names;
  for (ZEPLELEM_listElem* e = list.fileList.front(); e != nullptr; e = list.fileList.next(e)) {
    names.emplace_back(static_cast<ZEPDIREN_dirEntry*>(e)->getFilename());
  }
  return names;
}

TEST(ZepDirListIdentityTest, ARecreatedDirectoryIsListedAfreshAndReportedOnce) {
  ZepTestDir tmp;
  const std::string logs = tmp.path("logs");
  std::filesystem::create_directory(logs);
  tmp.write("logs/first", "1");
  ZEPDIRLS_dirList list(logs.c_str());
  ASSERT_EQ(namesOf(list), std::vector<std::string>{"first"});

  TRK1_Capture capture;
  std::filesystem::remove_all(logs);
  EXPECT_EQ(list.readDir(), 0);  // gone: nothing to list, nothing to report
  EXPECT_TRUE(namesOf(list).empty());
  // Created again, possibly on the very inode the old one had.
  std::filesystem::create_directory(logs);
  tmp.write("logs/second", "2");
  EXPECT_EQ(list.readDir(), 0);
  EXPECT_EQ(namesOf(list), std::vector<std::string>{"second"});
  tmp.write("logs/third", "3");
  EXPECT_EQ(list.readDir(), 0);
  EXPECT_EQ(namesOf(list).size(), 2u);
  EXPECT_EQ(capture.count("ZEP0356W"), 1);
  EXPECT_FALSE(capture.contains("ZEP0352E"));
}

}  // namespace
