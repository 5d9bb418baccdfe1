// Properties files: the file format, the entry rules, change detection and
// the atomic save, on real files in a temporary directory.
#include "foundation/zepprops.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <utility>
#include <vector>

#include "axo/trk1.h"
#include "foundation/zepport.h"
#include "foundation/zeptestdir.h"

namespace {

using Entries = std::vector<std::pair<std::string, std::string>>;

Entries EntriesOf(const ZEPPROPS_properties& props) {
  Entries out;
  for (ZEPKVPAR_keyValuePair* e = props.front(); e != nullptr; e = props.next(e)) {
    out.emplace_back(e->getKey(), e->getValue());
  }
  return out;
}

class ZepPropsTest : public ::testing::Test {
 protected:
  void TearDown() override {
    ZEPPORT::clearFaults();
    TRK1_ResetLevels();
  }

  std::string Path(const char* name = "p.properties") { return dir_.path(name); }

  ZepTestDir dir_;
  TRK1_Capture capture_;
};

TEST_F(ZepPropsTest, LoadFollowsTheFileFormat) {
  dir_.write("p.properties",
             "a=1\n#b=2\n!c=3\nd==x\ne=\n=f\n g = h \nnoequals\n\nk=1\nk=2\n"
             "path=C:\\\\dir\\\\x\\n\n");
  ZEPPROPS_properties props(Path().c_str());
  EXPECT_EQ(EntriesOf(props), (Entries{{"a", "1"},
                                       {"d", "=x"},
                                       {" g ", " h"},
                                       {"k", "2"},
                                       {"path", "C:\\dir\\x\\n"}}));
  EXPECT_EQ(props.getProperty("c"), nullptr);
  EXPECT_EQ(props.getProperty("A"), nullptr);  // keys are case-sensitive

  // A CR LF file loads the same entries.
  dir_.write("crlf.properties", "a=1\r\nd==x\r\n g = h \r\n");
  ZEPPROPS_properties crlf(Path("crlf.properties").c_str());
  EXPECT_EQ(EntriesOf(crlf), (Entries{{"a", "1"}, {"d", "=x"}, {" g ", " h"}}));
}

TEST_F(ZepPropsTest, OverlongLineKeepsItsFirstCharactersAndSkipsTheRest) {
  const std::string value(3000, 'v');
  dir_.write("p.properties", "long=" + value + "\nnext=1\n");
  ZEPPROPS_properties props(Path().c_str());
  ASSERT_NE(props.getProperty("long"), nullptr);
  EXPECT_EQ(std::string(props.getProperty("long")), std::string(2046 - 5, 'v'));
  EXPECT_STREQ(props.getProperty("next"), "1");
}

TEST_F(ZepPropsTest, LoadOfMissingFileCreatesItAndOfEmptyNameFails) {
  ZEPPROPS_properties props;
  props.setProperty("keep", "1");
  EXPECT_EQ(props.load(""), ZEPPROPS_properties::ERROR);
  EXPECT_TRUE(capture_.contains("ZEP00202E NULL or zero length property filename specified"));
  EXPECT_STREQ(props.getProperty("keep"), "1");

  EXPECT_EQ(props.load(Path("new.properties").c_str()), ZEPPROPS_properties::OK);
  EXPECT_EQ(props.size(), 0);
  EXPECT_EQ(dir_.read("new.properties"), "");

  EXPECT_EQ(props.load(Path("no/such/dir.properties").c_str()), ZEPPROPS_properties::ERROR);
  EXPECT_TRUE(capture_.contains("ZEP00203E Unable to open property file for reading"));
}

TEST_F(ZepPropsTest, SetPropertyRemoveAndLookups) {
  ZEPPROPS_properties props;
  props.setProperty("a", "1");
  props.setProperty("b", "x");
  props.setProperty("c", 12);
  props.setProperty("a", "2");  // replaces in place
  EXPECT_EQ(EntriesOf(props), (Entries{{"a", "2"}, {"b", "x"}, {"c", "12"}}));

  props.setProperty("a", "");  // an empty value removes an existing key
  props.setProperty("e", "");  // ...but is appended for a missing one
  props.remove("b");
  props.remove("absent");
  props.setProperty("a", "3");  // re-added at the end
  EXPECT_EQ(EntriesOf(props), (Entries{{"c", "12"}, {"e", ""}, {"a", "3"}}));

  props.setProperty("neg", "-1");
  props.setProperty("abc", "abc");
  props.setProperty("blank", " 12");
  EXPECT_EQ(props.getPropertyAsInt("c", 7), 12);
  EXPECT_EQ(props.getPropertyAsInt("neg", 7), -1);
  EXPECT_EQ(props.getPropertyAsInt("abc", 7), 7);
  EXPECT_EQ(props.getPropertyAsInt("blank", 7), 7);
  EXPECT_EQ(props.getPropertyAsInt("absent", 7), 7);

  props.clear();
  EXPECT_EQ(props.size(), 0);
  EXPECT_EQ(props.getProperty("c"), nullptr);
}

TEST_F(ZepPropsTest, SaveWritesHeaderAndEscapedEntriesAndReloads) {
  ZEPPROPS_properties props;
  props.setPropertyFilename(Path().c_str());
  props.setProperty("z", "1");
  props.setProperty("dir", "C:\\logs");
  props.setProperty("empty", "");
  ASSERT_EQ(props.save("generated"), ZEPPROPS_properties::OK);
  EXPECT_EQ(dir_.read("p.properties"), "#generated\nz=1\ndir=C:\\\\logs\nempty=\n");
  EXPECT_FALSE(dir_.exists("p.properties.tmp"));

  ZEPPROPS_properties again(Path().c_str());
  EXPECT_EQ(EntriesOf(again), (Entries{{"z", "1"}, {"dir", "C:\\logs"}}));
}

TEST_F(ZepPropsTest, SaveThroughSymbolicLinkReplacesTheTarget) {
  dir_.write("real.properties", "a=1\n");
  ASSERT_EQ(symlink(Path("real.properties").c_str(), Path().c_str()), 0);
  ZEPPROPS_properties props(Path().c_str());
  props.setProperty("b", "2");
  ASSERT_EQ(props.save(nullptr), ZEPPROPS_properties::OK);
  struct stat st;
  ASSERT_EQ(lstat(Path().c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(dir_.read("real.properties"), "a=1\nb=2\n");
}

TEST_F(ZepPropsTest, LoadIfChangedSkipsOwnSaveAndSeesOtherWriters) {
  ZEPPROPS_properties props;
  props.setPropertyFilename(Path().c_str());
  props.setProperty("a", "1");
  ASSERT_EQ(props.save(nullptr), ZEPPROPS_properties::OK);
  EXPECT_NE(props.getLastModified(), 0);

  props.setProperty("unsaved", "x");
  EXPECT_EQ(props.loadIfChanged(), ZEPPROPS_properties::OK);
  EXPECT_STREQ(props.getProperty("unsaved"), "x");  // not reloaded

  const time_t later = props.getLastModified() + 5;
  dir_.write("p.properties", "b=2\n");
  dir_.setMtime("p.properties", later);
  TRK1_SetLevel("ZEPPROPS", TRK1_DETAIL | TRK1_ERROR);
  EXPECT_EQ(props.loadIfChanged(), ZEPPROPS_properties::OK);
  EXPECT_EQ(EntriesOf(props), (Entries{{"b", "2"}}));
  EXPECT_TRUE(capture_.contains("Config file change detected. stat rc =0"));
  EXPECT_EQ(props.getLastModified(), later);
}

TEST_F(ZepPropsTest, FailedSaveLeavesTheFileUntouched) {
  const std::string original = "a=old\nb=old\n";
  struct Case {
    ZEPPORT::Op op;
    int after;
    const char* message;
  };
  const Case cases[] = {
      {ZEPPORT::Op::kOpen, 0, "ZEP00206E Error writing properties file"},
      {ZEPPORT::Op::kWrite, 1, "ZEP00205E Error writing properties to output stream"},
      {ZEPPORT::Op::kSync, 0, "ZEP00206E Error writing properties file"},
      {ZEPPORT::Op::kClose, 0, "ZEP00207E Error closing properties file"},
      {ZEPPORT::Op::kRename, 0, "ZEP00206E Error writing properties file"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    dir_.write("p.properties", original);
    ZEPPROPS_properties props(Path().c_str());
    const time_t loaded = props.getLastModified();
    props.setProperty("a", "new");
    props.setProperty("c", "new");
    capture_.clear();
    ZEPPORT::injectFault(c.op, "p.properties", ENOSPC, 1, c.after);
    EXPECT_EQ(props.save("h"), ZEPPROPS_properties::ERROR);
    ZEPPORT::clearFaults();
    EXPECT_TRUE(capture_.contains(c.message));
    EXPECT_EQ(dir_.read("p.properties"), original);
    EXPECT_FALSE(dir_.exists("p.properties.tmp"));
    EXPECT_EQ(props.getLastModified(), loaded);
    // Nothing is lost in memory: the next save succeeds.
    EXPECT_EQ(props.save(nullptr), ZEPPROPS_properties::OK);
    EXPECT_EQ(dir_.read("p.properties"), "a=new\nb=old\nc=new\n");
  }
}

TEST_F(ZepPropsTest, ReadErrorFailsTheLoadAndKeepsTheEntries) {
  dir_.write("p.properties", "a=1\n");
  ZEPPROPS_properties props(Path().c_str());
  dir_.write("p.properties", "a=2\nb=2\n");
  dir_.setMtime("p.properties", props.getLastModified() + 5);
  ZEPPORT::injectFault(ZEPPORT::Op::kRead, "p.properties", EIO, 1, 1);
  EXPECT_EQ(props.loadIfChanged(), ZEPPROPS_properties::ERROR);
  EXPECT_EQ(EntriesOf(props), (Entries{{"a", "1"}}));
  // The change is still pending, so the next call picks it up.
  EXPECT_EQ(props.loadIfChanged(), ZEPPROPS_properties::OK);
  EXPECT_EQ(EntriesOf(props), (Entries{{"a", "2"}, {"b", "2"}}));
}

TEST_F(ZepPropsTest, CopyMappedProperty) {
  const ZEPSTRUT_stringUtil::ENUM_CONSTANT table[] = {{"Full", 2}, {"None", 0}};
  ZEPPROPS_properties props;
  props.setProperty("level", "full");
  props.setProperty("bad", "Ful");
  int16_t out = -5;
  const auto* row = ZEPPROPS_properties::copyMappedProperty("level", &props, table, 2, &out);
  ASSERT_NE(row, nullptr);
  EXPECT_STREQ(row->name, "Full");
  EXPECT_EQ(out, 2);

  out = -5;
  EXPECT_EQ(ZEPPROPS_properties::copyMappedProperty("bad", &props, table, 2, &out), nullptr);
  EXPECT_TRUE(capture_.contains("ZEP0208E Unable to map property: Ful"));
  EXPECT_EQ(ZEPPROPS_properties::copyMappedProperty("absent", &props, table, 2, &out), nullptr);
  EXPECT_EQ(capture_.count("ZEP0208E"), 1);
  EXPECT_EQ(out, -5);
}

TEST(ZepKvParTest, ConstructorsCopyTheirText) {
  const char text[] = "key=value";
  ZEPKVPAR_keyValuePair bylen(3, text, 5, text + 4);
  EXPECT_STREQ(bylen.getKey(), "key");
  EXPECT_STREQ(bylen.getValue(), "value");
  ZEPKVPAR_keyValuePair copy(bylen);
  copy.setValue(copy.getValue() + 1);  // from its own text
  EXPECT_STREQ(copy.getValue(), "alue");
  copy.setKey(nullptr);
  EXPECT_STREQ(copy.getKey(), "");
  EXPECT_STREQ(static_cast<const char*>(bylen.getElemKey()), "key");
}

}  // namespace
