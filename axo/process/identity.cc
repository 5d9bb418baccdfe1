// The agent's identity, host and origin node, and the machine's names.
#include <sys/utsname.h>
#include <unistd.h>

#include <cstring>
#include <mutex>

#include "axo/base/text.h"
#include "axo/process/axo.h"
#include "axo/process/state.h"

using axo_internal::CopyBounded;
using axo_internal::P;
using axo_internal::Process;
using axo_internal::Text;

namespace {

// Host and origin node are handed out as C strings that stay valid; they are
// rewritten only by the identity setters.
char g_hostname[65];
char g_originnode[33];

// Recomputes the host and origin-node texts. Requires P().mu.
void RefreshHostLocked(Process& p) {
  std::string host = p.identity.hostname;
  if (host.empty()) {
    char buf[65] = "";
    if (gethostname(buf, sizeof(buf) - 1) == 0) {
      buf[sizeof(buf) - 1] = '\0';
      host = buf;
      host = host.substr(0, host.find('.'));
    }
  }
  CopyBounded(g_hostname, sizeof(g_hostname), host);
  std::string origin =
      host.empty() ? std::string()
                   : (p.identity.nodeType.empty() ? host : host + ":" + p.identity.nodeType);
  CopyBounded(g_originnode, sizeof(g_originnode), origin);
  p.identity.originnode = g_originnode;
}

}  // namespace

void axo_internal::ForgetHostLocked() {
  g_hostname[0] = '\0';
  g_originnode[0] = '\0';
}

int DetermineLocalHost(char* buffer, int size) {
  if (buffer == nullptr || size <= 0) return -1;
  char name[256] = "";
  if (gethostname(name, sizeof(name) - 1) != 0) {
    buffer[0] = '\0';
    return -1;
  }
  name[sizeof(name) - 1] = '\0';
  CopyBounded(buffer, static_cast<size_t>(size), name);
  return 0;
}

// --- identity -------------------------------------------------------------------------

int AXO_SetAffinity(const char* affinity) {
  Process& p = P();
  std::lock_guard<std::mutex> guard(p.mu);
  p.identity.affinities.push_back(Text(affinity));
  return 0;
}

int AXO_SetProduct(const char* product, const char* version) {
  Process& p = P();
  std::lock_guard<std::mutex> guard(p.mu);
  p.identity.product = Text(product);
  p.identity.version = Text(version);
  return 0;
}

int AXO_SetSubsystemId(const char* subsystem) {
  Process& p = P();
  std::lock_guard<std::mutex> guard(p.mu);
  p.identity.subsystem = Text(subsystem);
  return 0;
}

int AXO_SetNodeType(const char* node_type) {
  Process& p = P();
  std::lock_guard<std::mutex> guard(p.mu);
  p.identity.nodeType = Text(node_type);
  RefreshHostLocked(p);
  return 0;
}

int AXO_SetHostname(const char* hostname) {
  Process& p = P();
  std::lock_guard<std::mutex> guard(p.mu);
  p.identity.hostname = Text(hostname);
  RefreshHostLocked(p);
  return 0;
}

const char* AXO_GetHostname() {
  Process& p = P();
  std::lock_guard<std::mutex> guard(p.mu);
  if (g_hostname[0] == '\0') RefreshHostLocked(p);
  return g_hostname[0] != '\0' ? g_hostname : nullptr;
}

const char* AXO_GetOriginnode() {
  Process& p = P();
  std::lock_guard<std::mutex> guard(p.mu);
  if (g_originnode[0] == '\0') RefreshHostLocked(p);
  return g_originnode[0] != '\0' ? g_originnode : nullptr;
}

AXO_Identity AXO_GetIdentity() {
  Process& p = P();
  std::lock_guard<std::mutex> guard(p.mu);
  if (g_originnode[0] == '\0') RefreshHostLocked(p);
  AXO_Identity id = p.identity;
  id.hostname = g_hostname;
  return id;
}

// --- test seams -----------------------------------------------------------------
