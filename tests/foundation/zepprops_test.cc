// Properties files: the file format, the entry rules, change detection and
// the atomic save, on real files in a temporary directory.
#include "foundation/zepprops.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>
#include <vector>

#include "axo/base/env.h"
#include "axo/base/trk1.h"
#include "support/fake_env.h"
#include "support/zeptestdir.h"

namespace {

using Entries = std::vector<std::pair<std::string, std::string>>;

class ZepPropsTest : public ::testing::Test {
 protected:
  std::string Path(const char* name = "p.properties") { return dir_.path(name); }
  static Entries EntriesOf(const ZEPPROPS_properties& props) {
    Entries out;
    for (auto* e = props.front(); e != nullptr; e = props.next(e)) {
      out.emplace_back(e->getKey(), e->getValue());
    }
    return out;
  }
  ZepTestDir dir_;
};

TEST_F(ZepPropsTest, LoadFollowsTheFileFormat) {
  const std::string text =
      "a=1\n#b=2\n!c=3\nd==x\ne=\n=f\n g = h \nnoequals\n\nk=1\nk=2\n"
      "path=C:\\\\dir\\\\x\\n\nlong=" +
      std::string(3000, 'v') + "\nnext=1\n";
  const Entries expected = {{"a", "1"},
                            {"d", "=x"},
                            {" g ", " h"},
                            {"k", "2"},
                            {"path", "C:\\dir\\x\\n"},
                            {"long", std::string(2046 - 5, 'v')},
                            {"next", "1"}};
  for (const char* eol : {"\n", "\r\n"}) {
    std::string file;
    for (char c : text) file += c == '\n' ? std::string(eol) : std::string(1, c);
    dir_.write("p.properties", file);
    ZEPPROPS_properties props(Path().c_str());
    EXPECT_EQ(EntriesOf(props), expected) << eol[1];
    EXPECT_EQ(props.getProperty("A"), nullptr);  // keys are case-sensitive
  }
  // A missing file is created; no name, or no directory, fails.
  ZEPPROPS_properties props;
  EXPECT_EQ(props.load(Path("new.properties").c_str()), ZEPPROPS_properties::OK);
  EXPECT_EQ(dir_.read("new.properties"), "");
  EXPECT_EQ(props.load(""), ZEPPROPS_properties::ERROR);
  EXPECT_EQ(props.load(Path("no/such.properties").c_str()), ZEPPROPS_properties::ERROR);
}

TEST_F(ZepPropsTest, SaveEscapesBackslashesAndReloadsTheSameEntries) {
  ZEPPROPS_properties props;
  props.setPropertyFilename(Path().c_str());
  props.setProperty("z", "1");
  props.setProperty("dir", "C:\\logs\\n\\");
  props.setProperty("empty", "");
  ASSERT_EQ(props.save("generated"), ZEPPROPS_properties::OK);
  EXPECT_EQ(dir_.read("p.properties"), "#generated\nz=1\ndir=C:\\\\logs\\\\n\\\\\nempty=\n");
  EXPECT_EQ(EntriesOf(ZEPPROPS_properties(Path().c_str())),
            (Entries{{"z", "1"}, {"dir", "C:\\logs\\n\\"}}));
}

// A symbolic link under the file's name is neither written through nor
// read: the link and its target stay as they are, the entries as they were,
// and a pass that looks for changes reports it once, not at every call. A
// FIFO is refused at once instead of blocking the load.
TEST_F(ZepPropsTest, LinksAndFifosUnderTheNameAreRefusedAndLeftAlone) {
  ASSERT_EQ(mkfifo(Path("fifo").c_str(), 0600), 0);
  EXPECT_EQ(ZEPPROPS_properties().load(Path("fifo").c_str()), ZEPPROPS_properties::ERROR);
  dir_.write("target", "secret=1\n");
  ASSERT_EQ(symlink(Path("target").c_str(), Path().c_str()), 0);
  ZEPPROPS_properties props;
  props.setPropertyFilename(Path().c_str());
  props.setProperty("kept", "1");
  TRK1_Capture capture;
  EXPECT_EQ(props.save(nullptr), ZEPPROPS_properties::ERROR);
  EXPECT_EQ(props.load(), ZEPPROPS_properties::ERROR);
  EXPECT_EQ(props.loadIfChanged(), ZEPPROPS_properties::OK);
  EXPECT_EQ(capture.count("ZEP00209E Property file refused, not a regular file"), 2);
  EXPECT_EQ(EntriesOf(props), (Entries{{"kept", "1"}}));
  EXPECT_TRUE(std::filesystem::is_symlink(Path()));
  EXPECT_EQ(dir_.read("target"), "secret=1\n");
  // A dangling link is not created through either.
  ASSERT_EQ(symlink(Path("absent").c_str(), Path("dangling").c_str()), 0);
  EXPECT_EQ(props.load(Path("dangling").c_str()), ZEPPROPS_properties::ERROR);
  EXPECT_FALSE(dir_.exists("absent"));
  // Nor is a link planted under the temporary file's old fixed name.
  ASSERT_EQ(unlink(Path().c_str()), 0);
  ASSERT_EQ(symlink(Path("target").c_str(), Path("p.properties.tmp").c_str()), 0);
  EXPECT_EQ(props.save(nullptr), ZEPPROPS_properties::OK);
  EXPECT_EQ(dir_.read("p.properties"), "kept=1\n");
  EXPECT_EQ(dir_.read("target"), "secret=1\n");
}

TEST_F(ZepPropsTest, LoadIfChangedSkipsOwnSaveAndSeesOtherWriters) {
  ZEPPROPS_properties props;
  props.setPropertyFilename(Path().c_str());
  props.setProperty("a", "1");
  ASSERT_EQ(props.save(nullptr), ZEPPROPS_properties::OK);
  props.setProperty("unsaved", "x");
  EXPECT_EQ(props.loadIfChanged(), ZEPPROPS_properties::OK);
  EXPECT_STREQ(props.getProperty("unsaved"), "x");  // not reloaded
  // A read error keeps the entries, and the change stays pending.
  const time_t later = props.getLastModified() + 5;
  dir_.write("p.properties", "b=2\n");
  dir_.setMtime("p.properties", later);
  zeptest::FakeEnv env;
  axo::ScopedEnv useEnv(&env);
  env.FailFiles(zeptest::FakeEnv::FileOp::kRead, "p.properties", EIO, 1);
  EXPECT_EQ(props.loadIfChanged(), ZEPPROPS_properties::ERROR);
  EXPECT_STREQ(props.getProperty("unsaved"), "x");
  EXPECT_EQ(props.loadIfChanged(), ZEPPROPS_properties::OK);
  EXPECT_EQ(EntriesOf(props), (Entries{{"b", "2"}}));
  EXPECT_EQ(props.getLastModified(), later);
}

}  // namespace
