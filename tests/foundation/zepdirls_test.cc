// Directory listings on real directories: order, skipped entries, and a
// directory that is missing, deleted or created again.
#include "foundation/zepdirls.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "axo/base/trk1.h"
#include "support/zeptestdir.h"

namespace {

using Names = std::vector<std::string>;

class ZepDirListTest : public ::testing::Test {
 protected:
  static Names NamesOf(const ZEPDIRLS_dirList& list) {
    Names names;
    for (auto* e = list.fileList.front(); e != nullptr; e = list.fileList.next(e)) {
      names.emplace_back(static_cast<ZEPDIREN_dirEntry*>(e)->getFilename());
    }
    return names;
  }
  ZepTestDir dir_;
  TRK1_Capture capture_;
};

TEST_F(ZepDirListTest, ListsFilesOldestFirstInStreamOrderForEqualTimes) {
  const time_t t = 1700000000;
  for (int i = 0; i < 14; ++i) {
    const std::string name = i == 12 ? "newest" : i == 13 ? "oldest" : "same" + std::to_string(i);
    dir_.write(name, "x");
    dir_.setMtime(name, i == 12 ? t + 60 : i == 13 ? t - 60 : t);
  }
  ASSERT_EQ(mkdir(dir_.path("subdir").c_str(), 0775), 0);
  ZEPDIRLS_dirList list(dir_.dir().c_str());
  // The other plain files (no subdir, "." or "..") in directory-stream order.
  Names expected{"oldest"};
  DIR* d = opendir(dir_.dir().c_str());
  while (const dirent* e = readdir(d)) {
    if (e->d_type == DT_REG && e->d_name[0] == 's') expected.emplace_back(e->d_name);
  }
  closedir(d);
  expected.push_back("newest");
  EXPECT_EQ(NamesOf(list), expected);
  // (Sizes and times as the archive purge uses them: tests of the list.)
  // (A listing read again each pass: the dispatcher's tests.)
}

TEST_F(ZepDirListTest, MissingDirectoryIsReportedAndListedOnceItExists) {
  const std::string missing = dir_.path("missing");
  ZEPDIRLS_dirList list(missing.c_str());
  EXPECT_TRUE(capture_.contains("ZEP0352E Invalid directory name: " + missing + "/"));
  EXPECT_EQ(list.readDir(), -1);
  // Once the directory exists the same listing works.
  ASSERT_EQ(mkdir(missing.c_str(), 0775), 0);
  dir_.write("missing/f", "");
  EXPECT_EQ(list.readDir(), 0);
  EXPECT_EQ(NamesOf(list), Names{"f"});

  // Deleted and created again (possibly on the very inode the old one had):
  // listed afresh and reported once.
  const int reported = capture_.count("ZEP0352E");
  std::filesystem::remove_all(missing);
  EXPECT_EQ(list.readDir(), 0);  // gone: nothing to list, nothing to report
  EXPECT_TRUE(NamesOf(list).empty());
  ASSERT_EQ(mkdir(missing.c_str(), 0775), 0);
  for (const char* name : {"second", "third"}) {
    dir_.write("missing/" + std::string(name), "2");
    EXPECT_EQ(list.readDir(), 0);
  }
  EXPECT_EQ(NamesOf(list).size(), 2u);
  EXPECT_EQ(capture_.count("ZEP0356W"), 1);
  EXPECT_EQ(capture_.count("ZEP0352E"), reported);
}

}  // namespace
