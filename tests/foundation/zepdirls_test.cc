// Directory listings on real directories: order, skipped entries, names,
// and subdirectory creation.
#include "foundation/zepdirls.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <string>
#include <vector>

#include "axo/trk1.h"
#include "foundation/zepport.h"
#include "foundation/zeptestdir.h"

namespace {

std::vector<std::string> NamesOf(const ZEPDIRLS_dirList& list) {
  std::vector<std::string> names;
  for (ZEPLELEM_listElem* e = list.fileList.front(); e != nullptr; e = list.fileList.next(e)) {
    names.emplace_back(static_cast<ZEPDIREN_dirEntry*>(e)->getFilename());
  }
  return names;
}

// The plain files of `dir` in the order the directory stream returns them.
std::vector<std::string> StreamOrder(const std::string& dir) {
  std::vector<std::string> names;
  DIR* d = opendir(dir.c_str());
  while (const dirent* e = readdir(d)) {
    if (e->d_type == DT_REG) names.emplace_back(e->d_name);
  }
  closedir(d);
  return names;
}

class ZepDirListTest : public ::testing::Test {
 protected:
  void TearDown() override { ZEPPORT::clearFaults(); }

  ZepTestDir dir_;
  TRK1_Capture capture_;
};

TEST_F(ZepDirListTest, ListsFilesOldestFirstStableForEqualTimes) {
  const time_t t = 1700000000;
  for (int i = 0; i < 12; ++i) {
    const std::string name = "same" + std::to_string(i);
    dir_.write(name, "x");
    dir_.setMtime(name, t);
  }
  dir_.write("newest", "12345");
  dir_.setMtime("newest", t + 60);
  dir_.write("oldest", "");
  dir_.setMtime("oldest", t - 60);
  ASSERT_EQ(mkdir(dir_.path("subdir").c_str(), 0775), 0);
  // Expected: the oldest, the equal ones in stream order, the newest.
  auto expect_order = [&](const char* first, const char* last) {
    std::vector<std::string> order = StreamOrder(dir_.dir());
    std::erase(order, first);
    std::erase(order, last);
    order.insert(order.begin(), first);
    order.push_back(last);
    return order;
  };
  std::vector<std::string> expected = expect_order("oldest", "newest");

  ZEPDIRLS_dirList list(dir_.dir().c_str());
  EXPECT_EQ(NamesOf(list), expected);  // no "subdir", no "." or ".."
  auto* newest = static_cast<ZEPDIREN_dirEntry*>(list.fileList.back());
  EXPECT_EQ(newest->getFilesize(), 5);
  EXPECT_EQ(newest->getTimestamp(), t + 60);

  // readDir rewinds the open stream and sees the directory as it is now.
  ZEPPORT::zep_unlink(dir_.path("oldest").c_str());
  dir_.write("latest", "");
  dir_.setMtime("latest", t + 120);
  dir_.setMtime("same0", t - 60);
  EXPECT_EQ(list.readDir(), 0);
  expected = expect_order("same0", "latest");
  std::erase(expected, "newest");
  expected.insert(expected.end() - 1, "newest");
  EXPECT_EQ(NamesOf(list), expected);
}

TEST_F(ZepDirListTest, AddKeepsTimeOrderAndArrivalOrderForTies) {
  ZEPDIRLS_dirList list;
  list.add(new ZEPDIREN_dirEntry("b1", 0, 20));
  list.add(new ZEPDIREN_dirEntry("c", 0, 30));
  list.add(new ZEPDIREN_dirEntry("a", 0, 10));
  list.add(new ZEPDIREN_dirEntry("b2", 0, 20));
  EXPECT_EQ(NamesOf(list), (std::vector<std::string>{"a", "b1", "b2", "c"}));
}

TEST_F(ZepDirListTest, DirectoryNames) {
  ZEPDIRLS_dirList plain(dir_.dir().c_str());
  EXPECT_EQ(std::string(plain.getDirectoryName()), dir_.dir() + "/");
  ZEPDIRLS_dirList slash((dir_.dir() + "/").c_str());
  EXPECT_EQ(std::string(slash.getDirectoryName()), dir_.dir() + "/");

  // A backslash counts as a separator (the stream then fails to open).
  ZEPDIRLS_dirList backslash("C:\\logs\\");
  EXPECT_STREQ(backslash.getDirectoryName(), "C:\\logs\\");

  // An overlong name is cut at 260 characters.
  ZEPDIRLS_dirList overlong(std::string(400, 'd').c_str());
  EXPECT_EQ(std::string(overlong.getDirectoryName()).size(), 260u);
}

TEST_F(ZepDirListTest, MissingDirectoryGivesEmptyListingAndError) {
  ZEPDIRLS_dirList list(dir_.path("missing").c_str());
  EXPECT_TRUE(list.fileList.empty());
  EXPECT_TRUE(capture_.contains("OPENDIR FAILED rc = " + std::to_string(ENOENT)));
  EXPECT_TRUE(capture_.contains("ZEP0352E Invalid directory name: " + dir_.path("missing/")));
  EXPECT_EQ(list.readDir(), -1);

  // Once the directory exists the same listing works.
  ASSERT_EQ(mkdir(dir_.path("missing").c_str(), 0775), 0);
  dir_.write("missing/f", "");
  EXPECT_EQ(list.readDir(), 0);
  EXPECT_EQ(NamesOf(list), std::vector<std::string>{"f"});
}

TEST_F(ZepDirListTest, UnreadableStatusLeavesTheFileOut) {
  dir_.write("good", "");
  ASSERT_EQ(symlink(dir_.path("nowhere").c_str(), dir_.path("dangling").c_str()), 0);
  ZEPDIRLS_dirList list;
  list.setDirectoryName(dir_.dir().c_str());
  EXPECT_EQ(NamesOf(list), std::vector<std::string>{"good"});
  EXPECT_TRUE(capture_.contains("ZEP0353E Cannot get information for file using stat: dangling"));
  EXPECT_EQ(list.readDir(), -1);
}

TEST_F(ZepDirListTest, MkdirIfNeeded) {
  const std::string sub = dir_.path("cache");
  EXPECT_EQ(ZEPDIRLS_dirList::mkdirIfNeeded(sub.c_str()), 0);
  ZEP_STAT st;
  ASSERT_EQ(ZEPPORT::zep_stat(sub.c_str(), &st), 0);
  EXPECT_TRUE(st.isDirectory());
  EXPECT_EQ(ZEPDIRLS_dirList::mkdirIfNeeded(sub.c_str()), 0);  // already there

  dir_.write("file", "");
  EXPECT_EQ(ZEPDIRLS_dirList::mkdirIfNeeded(dir_.path("file").c_str()), -1);
  EXPECT_TRUE(capture_.contains("ZEP0354E File already exists and it is not a directory"));

  ZEPPORT::injectFault(ZEPPORT::Op::kMkdir, "archive", ENOSPC);
  EXPECT_EQ(ZEPDIRLS_dirList::mkdirIfNeeded(dir_.path("archive").c_str()), -1);
  EXPECT_TRUE(capture_.contains("ZEP0355E Unable to create subdirectory: " + dir_.path("archive")));
}

}  // namespace
