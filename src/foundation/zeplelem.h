// Element base of the agent's intrusive doubly linked lists.
//
// Every in-memory collection of the agent is a ZEPLLST_LinkedList of objects
// that derive from ZEPLELEM_listElem. The element carries its own links, so
// linking and unlinking never allocate. It also carries the key protocol that
// the list's find() and the comparison operators use: getElemKey() gives the
// element's key, compareKeys() compares the element's key with another key.
//
// An element is linked into at most one list at a time. The list that holds
// an element when the list is cleared or destroyed deletes it through the
// virtual destructor.
//
// Thread-safety: none of its own. An element is used under the lock of the
// structure whose list holds it.
#ifndef ZEP_FOUNDATION_ZEPLELEM_H_
#define ZEP_FOUNDATION_ZEPLELEM_H_

class ZEPLLST_LinkedList;

class ZEPLELEM_listElem {
 public:
  ZEPLELEM_listElem() = default;
  virtual ~ZEPLELEM_listElem();

  // A copy is a new, unlinked element: the links are never copied, and
  // assignment leaves the target's own links as they are.
  ZEPLELEM_listElem(const ZEPLELEM_listElem&) {}
  ZEPLELEM_listElem& operator=(const ZEPLELEM_listElem&) { return *this; }

  // Returns the element's key. What the key points at is defined by each
  // element class (text for most of them; the element itself for some).
  virtual const void* getElemKey() const = 0;

  // Returns a negative value, zero or a positive value as this element's key
  // is less than, equal to or greater than `key`. The default treats both
  // keys as NUL-terminated strings and compares them byte by byte as strcmp
  // does; a null key counts as the empty string.
  virtual int compareKeys(const void* key) const;

  // The following and the preceding element of the list holding this
  // element, or null at the ends and when the element is not linked.
  ZEPLELEM_listElem* getNextElement() const { return next_; }
  ZEPLELEM_listElem* getPrevElement() const { return prev_; }

  // Comparisons through the key protocol: this element's compareKeys() is
  // applied to the other element's getElemKey(). Only the left element's
  // compareKeys() is used, so the operators need not be symmetric when the
  // two elements are of different classes.
  bool operator==(const ZEPLELEM_listElem& other) const {
    return compareKeys(other.getElemKey()) == 0;
  }
  bool operator!=(const ZEPLELEM_listElem& other) const {
    return compareKeys(other.getElemKey()) != 0;
  }
  bool operator<(const ZEPLELEM_listElem& other) const {
    return compareKeys(other.getElemKey()) < 0;
  }
  bool operator>(const ZEPLELEM_listElem& other) const {
    return compareKeys(other.getElemKey()) > 0;
  }

 private:
  friend class ZEPLLST_LinkedList;

  ZEPLELEM_listElem* next_ = nullptr;
  ZEPLELEM_listElem* prev_ = nullptr;
};

#endif  // ZEP_FOUNDATION_ZEPLELEM_H_
