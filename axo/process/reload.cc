// Re-reading the options file: what changed, traced, and applied by the
// reload hooks.
#include <algorithm>
#include <map>

#include "axo/base/trk1.h"
#include "axo/process/axo.h"
#include "axo/process/state.h"

TRK1_UNIT(axo_unit, "AXOMAIN");

using axo_internal::P;
using axo_internal::ParseAllOptions;
using axo_internal::Process;

void AXO_OnReload(std::vector<std::string> options, AXO_ReloadHook hook) {
  Process& p = P();
  std::lock_guard<std::mutex> guard(p.mu);
  p.reloadHooks.push_back(Process::ReloadHook{std::move(options), std::move(hook)});
}

int AXO_ReloadOptions() {
  Process& p = P();
  AXO_Options before;
  std::map<std::string, std::string> given_before;
  std::vector<std::string> args;
  std::vector<Process::ReloadHook> hooks;
  {
    std::lock_guard<std::mutex> guard(p.mu);
    before = p.options;
    given_before = p.given;
    args = p.args;
    hooks = p.reloadHooks;
  }
  if (before.configFile.empty()) {
    TRK1_Printf(&axo_unit, __LINE__,
                "AXO0010W Reload asked for, but no options file (--config) was given");
    return 1;
  }
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  AXO_Options after;
  std::map<std::string, std::string> given;
  std::string error;
  if (ParseAllOptions(static_cast<int>(argv.size()), argv.data(), &after, &error, &given) !=
      AXO_OPTIONS_OK) {
    TRK1_Printf(&axo_unit, __LINE__, "AXO0011E Options not reloaded, the running ones stay: %s",
                error.c_str());
    return 1;
  }
  // Every option whose value changed, with both values.
  auto text = [](const std::map<std::string, std::string>& m, const std::string& name) {
    auto it = m.find(name);
    return it == m.end() ? std::string("(default)") : it->second;
  };
  std::map<std::string, std::string> all = given_before;
  all.insert(given.begin(), given.end());
  std::vector<std::string> changed;
  for (const auto& entry : all) {
    if (text(given_before, entry.first) != text(given, entry.first)) changed.push_back(entry.first);
  }
  auto hook_names = [](const Process::ReloadHook& h, const std::string& option) {
    return std::find(h.options.begin(), h.options.end(), option) != h.options.end();
  };
  for (const std::string& name : changed) {
    if (name == "trace") {  // the levels are set anew, not on top of the old ones
      TRK1_ResetLevels();
      TRK1_Configure(after.trace);
    }
    const bool applied = name == "trace" ||
                         std::any_of(hooks.begin(), hooks.end(), [&](const Process::ReloadHook& h) {
                           return hook_names(h, name);
                         });
    TRK1_Printf(&axo_unit, __LINE__, "%s Option %s changed from %s to %s: %s",
                applied ? "AXO0012I" : "AXO0013W", name.c_str(), text(given_before, name).c_str(),
                text(given, name).c_str(), applied ? "applied" : "needs a restart");
  }
  {
    std::lock_guard<std::mutex> guard(p.mu);
    p.options = after;
    p.given = given;
  }
  for (const Process::ReloadHook& h : hooks) {
    if (h.options.empty() || std::any_of(changed.begin(), changed.end(),
                                         [&](const std::string& n) { return hook_names(h, n); })) {
      h.hook(before, after);
    }
  }
  return 0;
}
