// Intrusive doubly linked list of ZEPLELEM_listElem objects.
//
// The list links elements through the links they carry, so every insertion
// and removal is O(1) and never allocates. Ownership rules:
//   - clear(), the destructor, truncateLeading() and truncateTrailing()
//     delete the elements they drop, through the elements' virtual
//     destructors;
//   - remove(), pop_front() and pop_back() only unlink: the caller owns the
//     element afterwards.
// An element may be linked into one list at a time; linking an element that
// is already linked somewhere is a caller error.
//
// Iterate with:
//   for (ZEPLELEM_listElem* e = list.front(); e != nullptr; e = list.next(e))
// and unlink the current element only after taking its successor.
//
// Thread-safety: none. A list is used by one thread at a time, under the lock
// of the structure that holds it. Lists cannot be copied.
#ifndef ZEP_FOUNDATION_ZEPLLST_H_
#define ZEP_FOUNDATION_ZEPLLST_H_

#include <cstdint>

#include "foundation/zeplelem.h"
#include "foundation/zepselem.h"

class ZEPLLST_LinkedList {
 public:
  ZEPLLST_LinkedList() = default;
  // Deletes every linked element.
  virtual ~ZEPLLST_LinkedList();

  ZEPLLST_LinkedList(const ZEPLLST_LinkedList&) = delete;
  ZEPLLST_LinkedList& operator=(const ZEPLLST_LinkedList&) = delete;

  int32_t size() const { return count_; }
  bool empty() const { return count_ == 0; }
  ZEPLELEM_listElem* front() const { return front_; }
  ZEPLELEM_listElem* back() const { return back_; }

  // The neighbours of `elem`, or null when `elem` is null or at the end.
  ZEPLELEM_listElem* next(const ZEPLELEM_listElem* elem) const {
    return elem == nullptr ? nullptr : elem->next_;
  }
  ZEPLELEM_listElem* previous(const ZEPLELEM_listElem* elem) const {
    return elem == nullptr ? nullptr : elem->prev_;
  }

  // Links `elem` (not linked anywhere) at the back or at the front. The list
  // owns it from then on. A null `elem` is ignored.
  void push_back(ZEPLELEM_listElem* elem);
  void push_front(ZEPLELEM_listElem* elem);

  // Links `elem` immediately before `before`, which must be linked in this
  // list; a null `before` appends `elem` at the back.
  void insert_before(ZEPLELEM_listElem* elem, ZEPLELEM_listElem* before);

  // Moves every element of `other`, in its order, after the back of this
  // list (push_back) or before its front (push_front). `other` is left
  // empty; splicing an empty list, or a list into itself, changes nothing.
  void push_back(ZEPLLST_LinkedList& other);
  void push_front(ZEPLLST_LinkedList& other);
  void push_back(ZEPLLST_LinkedList* other) {
    if (other != nullptr) push_back(*other);
  }
  void push_front(ZEPLLST_LinkedList* other) {
    if (other != nullptr) push_front(*other);
  }

  // Unlinks `elem` from this list and clears its links; the caller owns it
  // afterwards. Returns false (and changes nothing) when `elem` is null or
  // plainly not linked in this list.
  bool remove(ZEPLELEM_listElem* elem);

  // Unlink and return the front or back element (the caller owns it), or
  // return null on an empty list.
  ZEPLELEM_listElem* pop_front();
  ZEPLELEM_listElem* pop_back();

  // Deletes every element, front to back, and leaves the list empty.
  void clear();

  // Returns the element nearest the front whose compareKeys(key) is 0, or
  // null.
  ZEPLELEM_listElem* find(const void* key) const;

  // While size() is greater than `n`, unlinks and deletes the back element
  // (truncateTrailing) or the front element (truncateLeading). A negative
  // `n` empties the list.
  void truncateTrailing(int32_t n);
  void truncateLeading(int32_t n);

 private:
  // Links `elem` between `prev` and `next` (either may be null at an end).
  void link(ZEPLELEM_listElem* elem, ZEPLELEM_listElem* prev, ZEPLELEM_listElem* next);
  // Moves all of `other` between `prev` and `next` of this list.
  void splice(ZEPLLST_LinkedList& other, ZEPLELEM_listElem* prev, ZEPLELEM_listElem* next);

  int32_t count_ = 0;
  ZEPLELEM_listElem* front_ = nullptr;
  ZEPLELEM_listElem* back_ = nullptr;
};

#endif  // ZEP_FOUNDATION_ZEPLLST_H_
