// Filter node: a node of the data computer's filter tree, with its list of
// children and a hash index of its child nodes.
#include "situations/zepdcfn.h"

#include <cstring>

#include "axo/base/trk1.h"

TRK1_UNIT(zepdcfn_unit, "ZEPDCFN");

ZEPDCFN_FilterNode::ZEPDCFN_FilterNode(const char* key) : key_(key == nullptr ? "" : key) {}

ZEPDCFN_FilterNode::~ZEPDCFN_FilterNode() = default;

ZEPDCFN_FilterNode* ZEPDCFN_FilterNode::CreateFilterNode(const char* key,
                                                         ZEPLLST_LinkedList* list) {
  if (list == nullptr) return nullptr;
  auto* node = new ZEPDCFN_FilterNode(key);
  // The wildcard goes first, so a linear walk for "*" ends at once.
  if (std::strcmp(node->getKey(), "*") == 0) {
    list->push_front(node);
  } else {
    list->push_back(node);
  }
  return node;
}

ZEPDCFN_FilterNode* ZEPDCFN_FilterNode::findChild(const char* key) const {
  if (key == nullptr) return nullptr;
  auto it = index_.find(std::string_view(key));
  return it == index_.end() ? nullptr : it->second;
}

ZEPDCFN_FilterNode* ZEPDCFN_FilterNode::findOrCreateChild(const char* key) {
  ZEPDCFN_FilterNode* child = findChild(key);
  if (child != nullptr || key == nullptr) return child;
  child = CreateFilterNode(key, &children_);
  // The view refers to the child's own key text, which lives as long as the
  // child and is never changed.
  index_.emplace(std::string_view(child->key_), child);
  return child;
}

void ZEPDCFN_FilterNode::deleteChild(ZEPDCFN_FilterNode* child) {
  if (child == nullptr) return;
  auto it = index_.find(std::string_view(child->key_));
  if (it == index_.end() || it->second != child) return;  // not our child
  index_.erase(it);
  children_.remove(child);
  delete child;
}
