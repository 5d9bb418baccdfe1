// Port layer: line reading. (The fault seam is proven by the fault tests
// that expect its failures.)
#include "foundation/zepport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <sstream>
#include <vector>

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

}  // namespace
