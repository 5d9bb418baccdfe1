#include "foundation/zepllst.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// A keyed element that records its own destruction.
class TrackedElem : public ZEPLELEM_listElem {
 public:
  TrackedElem(const char* key, int* deaths) : key_(key), deaths_(deaths) {}
  ~TrackedElem() override { ++*deaths_; }
  const void* getElemKey() const override { return key_.c_str(); }
  const std::string& key() const { return key_; }

 private:
  std::string key_;
  int* deaths_;
};

class LinkedListTest : public ::testing::Test {
 protected:
  TrackedElem* make(const char* key) { return new TrackedElem(key, &deaths_); }

  // The keys front to back, checked against a walk back to front so that
  // both link directions and the ends agree with the count.
  std::string keys(const ZEPLLST_LinkedList& list) {
    std::string forward, backward;
    int n = 0;
    for (auto* e = list.front(); e != nullptr; e = list.next(e), ++n) {
      forward += static_cast<TrackedElem*>(e)->key();
    }
    for (auto* e = list.back(); e != nullptr; e = list.previous(e)) {
      backward.insert(0, static_cast<TrackedElem*>(e)->key());
    }
    EXPECT_EQ(forward, backward);
    EXPECT_EQ(n, list.size());
    EXPECT_EQ(list.front() == nullptr, list.size() == 0);
    EXPECT_EQ(list.back() == nullptr, list.size() == 0);
    return forward;
  }

  void fill(ZEPLLST_LinkedList& list, const char* ks) {
    for (const char* k = ks; *k != '\0'; ++k) {
      char key[2] = {*k, '\0'};
      list.push_back(make(key));
    }
  }

  int deaths_ = 0;
};

TEST_F(LinkedListTest, PushAndInsertKeepBothDirectionsConsistent) {
  ZEPLLST_LinkedList list;
  EXPECT_EQ("", keys(list));
  list.insert_before(make("c"), nullptr);  // empty list: the only element
  EXPECT_EQ("c", keys(list));
  list.push_front(make("a"));
  list.push_back(make("e"));
  list.insert_before(make("d"), list.back());
  list.insert_before(make("b"), list.find("c"));
  EXPECT_EQ("abcde", keys(list));
  list.insert_before(make("0"), list.front());  // becomes the new front
  list.insert_before(make("z"), nullptr);       // appends
  EXPECT_EQ("0abcdez", keys(list));
  EXPECT_EQ(nullptr, list.next(nullptr));
  EXPECT_EQ(nullptr, list.previous(nullptr));
}

TEST_F(LinkedListTest, RemoveAndPopUnlinkWithoutDeleting) {
  ZEPLLST_LinkedList list;
  fill(list, "abcd");
  ZEPLELEM_listElem* b = list.find("b");
  EXPECT_TRUE(list.remove(b));
  EXPECT_EQ(nullptr, b->getNextElement());
  EXPECT_EQ(nullptr, b->getPrevElement());
  EXPECT_FALSE(list.remove(b));  // no longer linked: nothing changes
  EXPECT_FALSE(list.remove(nullptr));
  ZEPLELEM_listElem* a = list.pop_front();
  ZEPLELEM_listElem* d = list.pop_back();
  EXPECT_EQ("c", keys(list));
  EXPECT_EQ(0, deaths_);
  delete a;
  delete b;
  delete d;
  ZEPLELEM_listElem* c = list.pop_back();
  EXPECT_EQ("", keys(list));
  EXPECT_EQ(nullptr, list.pop_front());
  EXPECT_EQ(nullptr, list.pop_back());
  EXPECT_EQ("", keys(list));
  delete c;
}

TEST_F(LinkedListTest, ElementLinkedElsewhereIsNotRemoved) {
  ZEPLLST_LinkedList one, two;
  fill(one, "ab");
  fill(two, "xy");
  EXPECT_FALSE(one.remove(two.front()));
  EXPECT_FALSE(one.remove(two.back()));
  EXPECT_EQ("ab", keys(one));
  EXPECT_EQ("xy", keys(two));
}

TEST_F(LinkedListTest, ClearAndDestructorDeleteEveryElement) {
  {
    ZEPLLST_LinkedList list;
    fill(list, "abc");
    list.clear();
    EXPECT_EQ(3, deaths_);
    EXPECT_EQ("", keys(list));
    fill(list, "de");  // usable after clear
  }
  EXPECT_EQ(5, deaths_);
}

TEST_F(LinkedListTest, FindReturnsTheMatchNearestTheFront) {
  ZEPLLST_LinkedList list;
  EXPECT_EQ(nullptr, list.find("a"));
  fill(list, "abab");
  EXPECT_EQ(list.front(), list.find("a"));
  EXPECT_EQ(list.next(list.front()), list.find("b"));
  EXPECT_EQ(nullptr, list.find("c"));
  EXPECT_EQ(nullptr, list.find(nullptr));  // a null key is the empty string
}

TEST_F(LinkedListTest, TruncateDeletesFromTheChosenEnd) {
  ZEPLLST_LinkedList list;
  fill(list, "abcde");
  list.truncateTrailing(list.size());
  EXPECT_EQ(0, deaths_);
  list.truncateTrailing(3);
  EXPECT_EQ("abc", keys(list));
  list.truncateLeading(1);
  EXPECT_EQ("c", keys(list));
  EXPECT_EQ(4, deaths_);
  list.truncateTrailing(0);
  EXPECT_EQ("", keys(list));
  fill(list, "xy");
  list.truncateLeading(-1);
  EXPECT_EQ("", keys(list));
  EXPECT_EQ(7, deaths_);
}

TEST_F(LinkedListTest, SplicingMovesEveryElementAndEmptiesTheSource) {
  ZEPLLST_LinkedList a, b, empty;
  fill(a, "cd");
  fill(b, "ef");
  a.push_back(b);
  EXPECT_EQ("cdef", keys(a));
  EXPECT_EQ("", keys(b));
  fill(b, "ab");
  a.push_front(&b);
  EXPECT_EQ("abcdef", keys(a));
  EXPECT_EQ("", keys(b));
  a.push_back(empty);
  a.push_front(empty);
  a.push_back(a);  // into itself: nothing changes
  EXPECT_EQ("abcdef", keys(a));
  empty.push_front(a);  // into an empty list
  EXPECT_EQ("abcdef", keys(empty));
  EXPECT_EQ("", keys(a));
  EXPECT_EQ(0, deaths_);
}

TEST_F(LinkedListTest, OperatorsUseTheLeftElementsComparison) {
  TrackedElem a("a", &deaths_), b("b", &deaths_), a2("a", &deaths_);
  EXPECT_TRUE(a == a2);
  EXPECT_TRUE(a != b);
  EXPECT_TRUE(a < b);
  EXPECT_TRUE(b > a);
  EXPECT_FALSE(a < a2);
}

TEST(StringElemTest, CopiesOwnTextAndCarryWordsAndValue) {
  ZEPSELEM_stringElem none(nullptr, 3);
  EXPECT_STREQ("", none.getString());
  ZEPSELEM_stringElem e("file-CA", 1700000000L);
  e.setWord1(7);
  EXPECT_EQ(0u, e.getWord2());
  ZEPSELEM_stringElem copy(e);
  EXPECT_STREQ("file-CA", copy.getString());
  EXPECT_NE(e.getString(), copy.getString());
  EXPECT_EQ(7u, copy.getWord1());
  EXPECT_EQ(1700000000, copy.getValue());
  none = e;
  EXPECT_STREQ("file-CA", none.getString());
  ZEPSELEM_stringElem& alias = none;
  none = alias;  // self-assignment keeps the text
  EXPECT_STREQ("file-CA", none.getString());
  // A text taken from inside the element's own text.
  EXPECT_STREQ("CA", none.setString(none.getString() + 5));
  EXPECT_EQ(nullptr, none.setString(nullptr));
  EXPECT_NE(0, e.compareKeys(none.getElemKey()));
}

TEST(StringElemTest, CopyOfALinkedElementIsUnlinked) {
  ZEPLLST_LinkedList list;
  list.push_back(new ZEPSELEM_stringElem("a", 1));
  list.push_back(new ZEPSELEM_stringElem("b", 2));
  ZEPSELEM_stringElem copy(*static_cast<ZEPSELEM_stringElem*>(list.front()));
  EXPECT_EQ(nullptr, copy.getNextElement());
  EXPECT_EQ(list.front(), list.find("a"));
  EXPECT_TRUE(copy == *list.front());
}

}  // namespace
