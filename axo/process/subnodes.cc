// The subnode registry: registrations queued, then sent.
#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <mutex>

#include "axo/process/axo.h"
#include "axo/process/state.h"

using axo_internal::P;
using axo_internal::Process;
using axo_internal::Text;

// --- subnodes -------------------------------------------------------------------------

int AXO_Subnode_Register_nAff(const char* name, const char* product, const char* version,
                              int affinity_count, ...) {
  va_list args;
  va_start(args, affinity_count);
  std::vector<std::string> affinities;
  for (int i = 0; i < affinity_count && i < 16; ++i)
    affinities.push_back(Text(va_arg(args, const char*)));
  va_end(args);

  Process& p = P();
  std::lock_guard<std::mutex> guard(p.mu);
  if (p.registerRc != 0) return p.registerRc;
  if (name == nullptr || name[0] == '\0' || strlen(name) > 32 || product == nullptr ||
      product[0] == '\0') {
    return AXO_SUBNODE_BAD_ARGUMENT;
  }
  p.pending.push_back(AXO_SubnodeInfo{name, product, Text(version)});
  return 0;
}

int AXO_Subnode_SendRequest() {
  Process& p = P();
  std::lock_guard<std::mutex> guard(p.mu);
  int rc = p.sendRc;
  if (rc == 0 || rc == AXO_SUBNODE_NOTHING_NEW) {
    for (AXO_SubnodeInfo& s : p.pending) {
      auto same = [&](const AXO_SubnodeInfo& e) { return e.name == s.name; };
      auto it = std::find_if(p.subnodes.begin(), p.subnodes.end(), same);
      if (it == p.subnodes.end()) {
        p.subnodes.push_back(s);
      } else {
        *it = s;
      }
    }
  }
  p.pending.clear();
  return rc;
}

std::vector<AXO_SubnodeInfo> AXO_ListSubnodes() {
  Process& p = P();
  std::lock_guard<std::mutex> guard(p.mu);
  return p.subnodes;
}

// --- test seams -----------------------------------------------------------------

void AXO_SetSubnodeResultsForTesting(int register_rc, int send_rc) {
  Process& p = P();
  std::lock_guard<std::mutex> guard(p.mu);
  p.registerRc = register_rc;
  p.sendRc = send_rc;
}
