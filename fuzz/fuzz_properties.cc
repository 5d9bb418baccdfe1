// Fuzz target: a properties file loaded, changed, saved and loaded again.
//
// Holds after every input: no crash or sanitizer report; every entry has a
// non-empty key without '=' and a non-empty value; the saved file loads back
// to the same entries in the same order (when every saved line fits the
// reader's line length, the only limit of the format); a save never leaves
// a temporary file behind.
#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "foundation/zepprops.h"
#include "fuzz_support.h"

namespace {

using Entries = std::vector<std::pair<std::string, std::string>>;

Entries entriesOf(const ZEPPROPS_properties& p) {
  Entries out;
  for (auto* e = p.front(); e != nullptr; e = p.next(e)) {
    out.emplace_back(e->getKey(), e->getValue());
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = zepfuzz::configDir() + "/fuzz.properties";
  zepfuzz::writeFile(path, data, size);
  ZEPPROPS_properties props;
  props.setPropertyFilename(path.c_str());
  ZEPFUZZ_CHECK(props.load() == ZEPPROPS_properties::OK);
  for (const auto& [key, value] : entriesOf(props)) {
    ZEPFUZZ_CHECK(!key.empty() && key.find('=') == std::string::npos && !value.empty());
    const char* got = props.getProperty(key.c_str());
    ZEPFUZZ_CHECK(got != nullptr && value == got);
  }
  // Changes as the action commands make them: a new key, an existing key
  // changed, one removed.
  props.setProperty("fuzz.added.count", props.size());
  if (ZEPKVPAR_keyValuePair* first = props.front()) {
    props.setProperty(std::string(first->getKey()).c_str(), "changed\\value");
    if (ZEPKVPAR_keyValuePair* second = props.next(props.front())) {
      const std::string removed = second->getKey();
      props.remove(removed.c_str());
      ZEPFUZZ_CHECK(props.getProperty(removed.c_str()) == nullptr);
    }
  }
  const Entries before = entriesOf(props);
  ZEPFUZZ_CHECK(props.save("fuzz header") == ZEPPROPS_properties::OK);
  ZEPFUZZ_CHECK(zepfuzz::filesIn(zepfuzz::configDir()) == 1);
  ZEPPROPS_properties reloaded;
  reloaded.setPropertyFilename(path.c_str());
  ZEPFUZZ_CHECK(reloaded.load() == ZEPPROPS_properties::OK);
  // A saved line is the key, "=" and the value, backslashes doubled.
  bool fits = true;
  for (const auto& [key, value] : before) {
    const std::string text = key + "=" + value;
    fits = fits && text.size() + std::count(text.begin(), text.end(), '\\') <= 2046;
  }
  if (fits) ZEPFUZZ_CHECK(entriesOf(reloaded) == before);
  return 0;
}
