// Port layer: a NUL byte inside a line damages that line only. The line
// reader keeps the line's length with each NUL replaced by the substitute
// character, and never takes the following line with it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/zepport.h"
#include "foundation/zeptestdir.h"

namespace {

using Lines = std::vector<std::string>;

// Every line of `content` as getline returns it with a buffer of `size`.
Lines readLines(const std::string& content, int size) {
  ZepTestDir dir;
  dir.write("f", content);
  ZEP_FILE f;
  EXPECT_EQ(ZEPPORT::zep_open(dir.path("f").c_str(), "r", &f, 0666), 0);
  std::vector<char> buf(size, 'x');
  Lines lines;
  while (ZEPPORT::getline(&f, buf.data(), size) != nullptr) lines.emplace_back(buf.data());
  ZEPPORT::zep_close(&f);
  return lines;
}

std::string bytes(const char* text, size_t n) { return std::string(text, n); }

TEST(ZepPortLinesTest, NulDamagesItsOwnLineOnly) {
  const std::string sub(1, ZEPPORT::NUL_SUBSTITUTE);
  struct Case {
    std::string content;
    int size;
    Lines expected;
  };
  const Case cases[] = {
      // The reported file: the line after the damaged one comes back.
      {bytes("line1\nab\0cd\nline3\nline4\n", 24), 2048,
       {"line1", "ab" + sub + "cd", "line3", "line4"}},
      {bytes("\0\0\n\0x\r\nnext\n", 12), 2048, {sub + sub, sub + "x", "next"}},
      // A damaged line longer than the buffer is cut like any other.
      {bytes("ab\0defghij\nnext\n", 16), 6, {"ab" + sub + "de", "next"}},
      // A NUL in the dropped rest of a long line does not hide its end.
      {bytes("abcdefgh\0ij\nnext\nlast\n", 22), 6, {"abcde", "next", "last"}},
      {std::string(600, 'a') + bytes("\0\nnext\n", 7), 6, {"aaaaa", "next"}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(readLines(c.content, c.size), c.expected) << "buffer " << c.size;
  }
}

}  // namespace
