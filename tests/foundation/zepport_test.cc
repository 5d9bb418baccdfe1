// Port layer: line reading, opening modes, the clock seam and the fault seam.
#include "foundation/zepport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "axo/trk1.h"
#include "foundation/zeptestdir.h"

namespace {

class ZepPortTest : public ::testing::Test {
 protected:
  void TearDown() override {
    ZEPPORT::clearFaults();
    ZEPPORT::setClockForTesting(nullptr);
  }

  // Reads `content` back through getline with a buffer of `size` bytes,
  // until getline reports nothing more.
  std::vector<std::string> ReadLines(const std::string& content, int size) {
    dir_.write("f", content);
    ZEP_FILE f;
    EXPECT_EQ(ZEPPORT::zep_open(dir_.path("f").c_str(), "r", &f, 0666), 0);
    std::vector<std::string> lines;
    std::vector<char> buf(size + 8, 'x');
    while (ZEPPORT::getline(&f, buf.data(), size) != nullptr) lines.emplace_back(buf.data());
    EXPECT_NE(ZEPPORT::zep_feof(&f), 0);
    EXPECT_EQ(buf[0], '\0');
    ZEPPORT::zep_close(&f);
    return lines;
  }

  ZepTestDir dir_;
};

using Lines = std::vector<std::string>;

TEST_F(ZepPortTest, GetlineCutsLongLinesAndDropsTheirRest) {
  // size 6 holds 5 characters: "abcde" fits exactly, "abcdefgh" is cut.
  EXPECT_EQ(ReadLines("abcde\nxy\n", 6), (Lines{"abcde", "xy"}));
  EXPECT_EQ(ReadLines("abcdefgh\nxy\n", 6), (Lines{"abcde", "xy"}));
  // A rest longer than one discard piece is dropped as well.
  EXPECT_EQ(ReadLines(std::string(1000, 'a') + "\nnext\n", 6), (Lines{"aaaaa", "next"}));
}

TEST_F(ZepPortTest, GetlineHandlesLineEnds) {
  EXPECT_EQ(ReadLines("a=1\r\nb=2\r\n", 64), (Lines{"a=1", "b=2"}));
  EXPECT_EQ(ReadLines("one\n\nlast", 64), (Lines{"one", "", "last"}));
  EXPECT_EQ(ReadLines("", 64), Lines{});
  // A carriage return that fills the buffer takes its line feed along: no
  // empty line appears after it.
  EXPECT_EQ(ReadLines("abcd\r\nxy\r\n", 6), (Lines{"abcd", "xy"}));
}

TEST_F(ZepPortTest, GetlineReportsReadErrorInsteadOfLoopingForever) {
  dir_.write("f", "a\nb\nc\n");
  ZEPPORT::injectFault(ZEPPORT::Op::kRead, "/f", EIO, -1, 1);
  ZEP_FILE f;
  ASSERT_EQ(ZEPPORT::zep_open(dir_.path("f").c_str(), "r", &f, 0666), 0);
  char buf[16];
  ASSERT_NE(ZEPPORT::getline(&f, buf, sizeof(buf)), nullptr);
  EXPECT_STREQ(buf, "a");
  EXPECT_EQ(ZEPPORT::getline(&f, buf, sizeof(buf)), nullptr);
  EXPECT_STREQ(buf, "");
  EXPECT_EQ(ZEPPORT::zep_feof(&f), 0);  // not the end: an error
  EXPECT_NE(ZEPPORT::zep_ferror(&f), 0);
  EXPECT_EQ(ZEPPORT::zep_close(&f), 0);
}

TEST_F(ZepPortTest, OpenModes) {
  const std::string missing = dir_.path("new.properties");
  ZEP_FILE f;
  // "r" never creates.
  EXPECT_EQ(ZEPPORT::zep_open(missing.c_str(), "r", &f, 0666), -1);
  EXPECT_EQ(f.fp, nullptr);
  EXPECT_FALSE(dir_.exists("new.properties"));

  // "rw" creates an empty file and opens it for reading.
  ASSERT_EQ(ZEPPORT::zep_open(missing.c_str(), "rw", &f, 0666), 0);
  char buf[8];
  EXPECT_EQ(ZEPPORT::getline(&f, buf, sizeof(buf)), nullptr);
  EXPECT_NE(ZEPPORT::zep_feof(&f), 0);
  EXPECT_EQ(ZEPPORT::zep_write(&f, "x", 1), 0);
  ZEPPORT::zep_close(&f);
  EXPECT_EQ(dir_.read("new.properties"), "");

  // "rw" leaves an existing file's content alone.
  dir_.write("new.properties", "k=v\n");
  ASSERT_EQ(ZEPPORT::zep_open(missing.c_str(), "rw", &f, 0666), 0);
  ASSERT_NE(ZEPPORT::getline(&f, buf, sizeof(buf)), nullptr);
  EXPECT_STREQ(buf, "k=v");
  ZEPPORT::zep_close(&f);

  // "w" truncates.
  ASSERT_EQ(ZEPPORT::zep_open(missing.c_str(), "w", &f, 0666), 0);
  EXPECT_EQ(ZEPPORT::zep_write(&f, "hello", 5), 5);
  EXPECT_EQ(ZEPPORT::zep_close(&f), 0);
  EXPECT_EQ(ZEPPORT::zep_close(&f), EOF);  // already closed

  ZEP_STAT st;
  ASSERT_EQ(ZEPPORT::zep_stat(missing.c_str(), &st), 0);
  EXPECT_EQ(st.size(), 5);
  EXPECT_FALSE(st.isDirectory());
  EXPECT_EQ(ZEPPORT::zep_stat(dir_.path("none").c_str(), &st), -1);
}

time_t FixedClock() { return 1765000000; }

TEST_F(ZepPortTest, ClockSeamReplacesAndRestoresTime) {
  ZEPPORT::setClockForTesting(&FixedClock);
  EXPECT_EQ(ZEPPORT::now(), 1765000000);
  ZEPPORT::setClockForTesting(nullptr);
  EXPECT_GT(ZEPPORT::now(), 1765000000 - 400000000);  // a real clock again
}

TEST_F(ZepPortTest, FaultsStrikeOnlyMatchingCallsInTheirWindow) {
  const std::string target = dir_.path("target");
  const std::string other = dir_.path("other");
  // The second and third opens of "target" fail; everything else passes.
  ZEPPORT::injectFault(ZEPPORT::Op::kOpen, "target", ENOSPC, 2, 1);
  ZEP_FILE f;
  std::vector<int> results;
  for (int i = 0; i < 4; ++i) {
    errno = 0;
    int rc = ZEPPORT::zep_open(target.c_str(), "w", &f, 0666);
    results.push_back(rc == 0 ? 0 : errno);
    if (rc == 0) ZEPPORT::zep_close(&f);
    ASSERT_EQ(ZEPPORT::zep_open(other.c_str(), "w", &f, 0666), 0);
    ZEPPORT::zep_close(&f);
  }
  EXPECT_EQ(results, (std::vector<int>{0, ENOSPC, ENOSPC, 0}));

  // A write fault transfers nothing and marks the file; close still closes.
  ZEPPORT::injectFault(ZEPPORT::Op::kWrite, "target", ENOSPC);
  ZEPPORT::injectFault(ZEPPORT::Op::kClose, "target", EIO, 1);
  ASSERT_EQ(ZEPPORT::zep_open(target.c_str(), "w", &f, 0666), 0);
  EXPECT_EQ(ZEPPORT::zep_write(&f, "abc", 3), 0);
  EXPECT_NE(ZEPPORT::zep_ferror(&f), 0);
  EXPECT_EQ(ZEPPORT::zep_close(&f), EOF);
  EXPECT_EQ(errno, EIO);
  EXPECT_EQ(f.fp, nullptr);

  // A rename fault matches the source or the target and renames nothing.
  ZEPPORT::injectFault(ZEPPORT::Op::kRename, "target", EXDEV);
  EXPECT_EQ(ZEPPORT::zep_rename(other.c_str(), target.c_str()), -1);
  EXPECT_EQ(errno, EXDEV);
  EXPECT_TRUE(dir_.exists("other"));

  ZEPPORT::clearFaults();
  EXPECT_EQ(ZEPPORT::zep_rename(other.c_str(), target.c_str()), 0);
}

}  // namespace
