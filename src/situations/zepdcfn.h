// Filter node: one node of the data computer's filter tree.
//
// The tree has three node levels (client address, service, operation) and a
// payload level: an operation node's children are payload elements referring
// to message counters. A node's key is a private copy of its text; the
// wildcard node "*" is kept at the front of its list.
//
// Besides its children list, a node above the payload level keeps a hash
// index of its child nodes by key, so a lookup costs the same whatever the
// number of siblings. Use findChild/findOrCreateChild/deleteChild for child
// nodes, so that list and index stay in step.
//
// Thread-safety: none of its own; the tree is used under the data computer's
// lock.
#ifndef ZEP_SITUATIONS_ZEPDCFN_H_
#define ZEP_SITUATIONS_ZEPDCFN_H_

#include <string>
#include <string_view>
#include <unordered_map>

#include "foundation/zepllst.h"

class ZEPDCFN_FilterNode : public ZEPLELEM_listElem {
 public:
  // Copies `key` (null counts as empty).
  explicit ZEPDCFN_FilterNode(const char* key);
  // Destroys the children (nodes and payload elements, not the payloads).
  ~ZEPDCFN_FilterNode() override;

  ZEPDCFN_FilterNode(const ZEPDCFN_FilterNode&) = delete;
  ZEPDCFN_FilterNode& operator=(const ZEPDCFN_FilterNode&) = delete;

  // The key text, compared with strcmp by list lookups.
  const void* getElemKey() const override { return key_.c_str(); }
  const char* getKey() const { return key_.c_str(); }

  ZEPLLST_LinkedList* getChildren() { return &children_; }

  // Creates a node keyed `key` and links it into `list`: at the front when
  // the key is exactly "*", at the back otherwise. Returns the node, owned
  // by `list`. The node is not indexed; prefer findOrCreateChild.
  static ZEPDCFN_FilterNode* CreateFilterNode(const char* key, ZEPLLST_LinkedList* list);

  // The child node keyed `key`, or null.
  ZEPDCFN_FilterNode* findChild(const char* key) const;
  // The child node keyed `key`, created (CreateFilterNode) when absent.
  ZEPDCFN_FilterNode* findOrCreateChild(const char* key);
  // Unlinks and destroys `child`, a child node of this node.
  void deleteChild(ZEPDCFN_FilterNode* child);

 private:
  std::string key_;
  ZEPLLST_LinkedList children_;
  std::unordered_map<std::string_view, ZEPDCFN_FilterNode*> index_;
};

#endif  // ZEP_SITUATIONS_ZEPDCFN_H_
