#include "foundation/zepllst.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// A keyed element that counts its own destruction.
struct TrackedElem : ZEPLELEM_listElem {
  TrackedElem(char key, int* deaths) : key_(1, key), deaths_(deaths) {}
  ~TrackedElem() override { ++*deaths_; }
  const void* getElemKey() const override { return key_.c_str(); }
  const std::string key_;
  int* deaths_;
};

// The keys front to back, checked against a walk back to front so that both
// link directions and the count agree.
std::string keys(const ZEPLLST_LinkedList& list) {
  std::string forward, backward;
  for (auto* e = list.front(); e != nullptr; e = list.next(e)) {
    forward += static_cast<TrackedElem*>(e)->key_;
  }
  for (auto* e = list.back(); e != nullptr; e = list.previous(e)) {
    backward.insert(0, static_cast<TrackedElem*>(e)->key_);
  }
  EXPECT_EQ(forward, backward);
  EXPECT_EQ(static_cast<int>(forward.size()), list.size());
  return forward;
}

TEST(LinkedListTest, InsertFindRemoveAndPopKeepBothDirectionsConsistent) {
  int deaths = 0;
  auto make = [&](char key) { return new TrackedElem(key, &deaths); };
  ZEPLLST_LinkedList list, other;
  EXPECT_EQ(nullptr, list.find("a"));
  list.insert_before(make('c'), nullptr);  // empty list: the only element
  list.push_front(make('a'));
  list.push_back(make('e'));
  list.insert_before(make('d'), list.back());
  list.insert_before(make('b'), list.find("c"));
  list.insert_before(make('0'), list.front());  // the new front
  list.insert_before(make('a'), nullptr);       // appends
  EXPECT_EQ("0abcdea", keys(list));
  EXPECT_EQ(list.next(list.front()), list.find("a"));  // the match nearest the front

  // Remove and pop unlink without deleting.
  other.push_back(make('x'));
  EXPECT_FALSE(list.remove(other.back()));  // linked elsewhere: nothing changes
  ZEPLELEM_listElem* b = list.find("b");
  EXPECT_TRUE(list.remove(b));
  EXPECT_FALSE(list.remove(b));
  delete b;
  delete list.pop_front();
  delete list.pop_back();
  EXPECT_EQ("acde", keys(list));
  EXPECT_EQ("x", keys(other));
  EXPECT_EQ(3, deaths);
  while (ZEPLELEM_listElem* e = list.pop_back()) delete e;
  delete other.pop_front();
  EXPECT_EQ(nullptr, list.pop_front());
  EXPECT_EQ(8, deaths);
}

}  // namespace
