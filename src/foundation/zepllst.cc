// Intrusive doubly linked list: linking, ordered insertion and lookup.
#include "foundation/zepllst.h"

#include "axo/base/trk1.h"

TRK1_UNIT(zepllst_unit, "ZEPLLST");

ZEPLLST_LinkedList::~ZEPLLST_LinkedList() { clear(); }

void ZEPLLST_LinkedList::link(ZEPLELEM_listElem* elem, ZEPLELEM_listElem* prev,
                              ZEPLELEM_listElem* next) {
  elem->prev_ = prev;
  elem->next_ = next;
  if (prev != nullptr) {
    prev->next_ = elem;
  } else {
    front_ = elem;
  }
  if (next != nullptr) {
    next->prev_ = elem;
  } else {
    back_ = elem;
  }
  ++count_;
}

void ZEPLLST_LinkedList::push_back(ZEPLELEM_listElem* elem) {
  if (elem != nullptr) link(elem, back_, nullptr);
}

void ZEPLLST_LinkedList::push_front(ZEPLELEM_listElem* elem) {
  if (elem != nullptr) link(elem, nullptr, front_);
}

void ZEPLLST_LinkedList::insert_before(ZEPLELEM_listElem* elem, ZEPLELEM_listElem* before) {
  if (elem == nullptr) return;
  if (before == nullptr) {
    link(elem, back_, nullptr);
  } else {
    link(elem, before->prev_, before);
  }
}

void ZEPLLST_LinkedList::splice(ZEPLLST_LinkedList& other, ZEPLELEM_listElem* prev,
                                ZEPLELEM_listElem* next) {
  if (&other == this || other.count_ == 0) return;
  other.front_->prev_ = prev;
  other.back_->next_ = next;
  if (prev != nullptr) {
    prev->next_ = other.front_;
  } else {
    front_ = other.front_;
  }
  if (next != nullptr) {
    next->prev_ = other.back_;
  } else {
    back_ = other.back_;
  }
  count_ += other.count_;
  other.count_ = 0;
  other.front_ = nullptr;
  other.back_ = nullptr;
}

void ZEPLLST_LinkedList::push_back(ZEPLLST_LinkedList& other) { splice(other, back_, nullptr); }

void ZEPLLST_LinkedList::push_front(ZEPLLST_LinkedList& other) { splice(other, nullptr, front_); }

bool ZEPLLST_LinkedList::remove(ZEPLELEM_listElem* elem) {
  if (elem == nullptr) return false;
  // An element without a predecessor must be this list's front, one without
  // a successor its back; anything else is not linked here.
  if ((elem->prev_ == nullptr && elem != front_) || (elem->next_ == nullptr && elem != back_)) {
    TRK1_Trace(&zepllst_unit, TRK1_ERROR, "remove: element %p is not linked in list %p",
               static_cast<void*>(elem), static_cast<void*>(this));
    return false;
  }
  if (elem->prev_ != nullptr) {
    elem->prev_->next_ = elem->next_;
  } else {
    front_ = elem->next_;
  }
  if (elem->next_ != nullptr) {
    elem->next_->prev_ = elem->prev_;
  } else {
    back_ = elem->prev_;
  }
  elem->prev_ = nullptr;
  elem->next_ = nullptr;
  --count_;
  return true;
}

ZEPLELEM_listElem* ZEPLLST_LinkedList::pop_front() {
  ZEPLELEM_listElem* elem = front_;
  remove(elem);
  return elem;
}

ZEPLELEM_listElem* ZEPLLST_LinkedList::pop_back() {
  ZEPLELEM_listElem* elem = back_;
  remove(elem);
  return elem;
}

void ZEPLLST_LinkedList::clear() {
  ZEPLELEM_listElem* elem = front_;
  // Unhook the whole chain first so that a destructor that looks at this
  // list sees it empty, never half deleted.
  front_ = nullptr;
  back_ = nullptr;
  count_ = 0;
  while (elem != nullptr) {
    ZEPLELEM_listElem* following = elem->next_;
    elem->next_ = nullptr;
    elem->prev_ = nullptr;
    delete elem;
    elem = following;
  }
}

ZEPLELEM_listElem* ZEPLLST_LinkedList::find(const void* key) const {
  for (ZEPLELEM_listElem* elem = front_; elem != nullptr; elem = elem->next_) {
    if (elem->compareKeys(key) == 0) return elem;
  }
  return nullptr;
}

void ZEPLLST_LinkedList::truncateTrailing(int32_t n) {
  if (n < 0) n = 0;
  while (count_ > n) delete pop_back();
}

void ZEPLLST_LinkedList::truncateLeading(int32_t n) {
  if (n < 0) n = 0;
  while (count_ > n) delete pop_front();
}
