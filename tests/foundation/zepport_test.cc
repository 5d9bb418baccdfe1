// Port layer: line reading, and what it reads of the env. (File faults in
// the agent's paths: the fault tests that expect their failures.)
#include "foundation/zepport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <random>
#include <sstream>
#include <vector>

#include "axo/base/clock.h"
#include "axo/base/env.h"
#include "support/fake_env.h"
#include "support/zeptestdir.h"

namespace {

using Lines = std::vector<std::string>;

class ZepPortTest : public ::testing::Test {
 protected:
  // `content` read back through getline with a buffer of `size` bytes.
  Lines ReadLines(const std::string& content, int size) {
    dir_.write("f", content);
    ZEP_FILE f;
    EXPECT_EQ(ZEPPORT::zep_open(dir_.path("f").c_str(), "r", &f, 0666), 0);
    Lines lines;
    std::vector<char> buf(size);
    size_t length;
    while (ZEPPORT::getline(&f, buf.data(), size, &length) != nullptr) {
      lines.emplace_back(buf.data());
      EXPECT_EQ(length, lines.back().size());
    }
    EXPECT_NE(ZEPPORT::zep_feof(&f), 0);
    ZEPPORT::zep_close(&f);
    return lines;
  }
  ZepTestDir dir_;
};

// The plain rule: a line ends at a line feed, its text stops at a carriage
// return, at most size - 1 characters of it are kept, and a NUL byte is
// replaced by the substitute character (it damages its own line only).
Lines PlainLines(const std::string& content, int size) {
  Lines out;
  std::istringstream in(content);
  for (std::string l; std::getline(in, l);) {
    l = l.substr(0, std::min(l.find('\r'), static_cast<size_t>(size - 1)));
    std::replace(l.begin(), l.end(), '\0', ZEPPORT::NUL_SUBSTITUTE);
    out.push_back(l);
  }
  return out;
}

// Lines of every length around the buffer and past the 256-byte pieces a cut
// line's rest is dropped in, some with a NUL byte kept or dropped, LF or CR
// LF, the last one with or without. The 2048-byte buffer reads a file of many
// stream buffers' worth: lines are mostly taken straight from the stream's
// buffer, across every boundary. (Not a cut CR LF line whose CR ends a
// discard piece: getline then gives an extra empty line, which every reader
// skips.)
TEST_F(ZepPortTest, GetlineFollowsThePlainRule) {
  std::mt19937 rng(9);
  for (int size : {2, 6, 64, 300, 2048}) {
    for (int round = 0; round < (size == 2048 ? 1 : 20); ++round) {
      std::string content;
      for (int i = 0; i < (size == 2048 ? 1500 : 30); ++i) {
        const int len = rng() % 3 == 0 ? size - 2 + static_cast<int>(rng() % 3) : rng() % 700;
        std::string line(len, static_cast<char>('a' + rng() % 26));
        if (len > 0 && rng() % 5 == 0) line[rng() % len] = '\0';
        content += line;
        const bool crEndsPiece = len >= size && (len - size + 2) % 255 == 0;
        content += rng() % 4 == 0 && !crEndsPiece ? "\r\n" : "\n";
      }
      if (rng() % 2 == 0) content += "last";
      ASSERT_EQ(ReadLines(content, size), PlainLines(content, size)) << size;
    }
  }
  EXPECT_EQ(ReadLines("cr\rinside\n\nx", 64), (Lines{"cr", "", "x"}));
}

// The env in force is the agent's clock (the framework's too) and user, and
// fails the file operations it names: a read after the first passes, a
// rename by its target's name. Any fault installed sends getline down its
// general path, which reads the same lines.
TEST_F(ZepPortTest, TheEnvGivesTheClockTheUserAndFileFaults) {
  zeptest::FakeEnv env;
  axo::ScopedEnv useEnv(&env);
  env.SetNow(1234);
  EXPECT_EQ(ZEPPORT::now(), 1234);
  EXPECT_EQ(AXO_Now(), 1234);
  env.SetEffectiveUid(4321);
  EXPECT_EQ(ZEPPORT::effectiveUid(), 4321u);

  using Op = zeptest::FakeEnv::FileOp;
  env.FailFiles(Op::kRead, dir_.path("other"), EIO);  // matches nothing here
  const std::string content = "a\r\nb\n" + std::string(300, 'c') + "\nd";
  EXPECT_EQ(ReadLines(content, 64), PlainLines(content, 64));

  env.FailFiles(Op::kRead, dir_.path("f"), EIO, 1, /*after=*/1);
  ZEP_FILE f;
  ASSERT_EQ(ZEPPORT::zep_open(dir_.path("f").c_str(), "r", &f, 0666), 0);
  char buf[16];
  EXPECT_STREQ(ZEPPORT::getline(&f, buf, sizeof(buf)), "a");
  errno = 0;
  EXPECT_EQ(ZEPPORT::getline(&f, buf, sizeof(buf)), nullptr);
  EXPECT_EQ(errno, EIO);
  EXPECT_NE(ZEPPORT::zep_ferror(&f), 0);
  ZEPPORT::zep_close(&f);

  env.FailFiles(Op::kRename, dir_.path("g"), ENOSPC);
  EXPECT_EQ(ZEPPORT::zep_rename(dir_.path("f").c_str(), dir_.path("g").c_str()), -1);
  EXPECT_EQ(errno, ENOSPC);
  EXPECT_TRUE(dir_.exists("f"));
  env.ClearFileFaults();
  EXPECT_EQ(ZEPPORT::zep_rename(dir_.path("f").c_str(), dir_.path("g").c_str()), 0);
}

}  // namespace
