// Fuzz target: an action command text against a small configuration file,
// through handleAction.
//
// Holds after every input: no crash or sanitizer report; the answer buffer
// is never written past its size and is terminated; a rejected command or
// one that changed nothing leaves the file byte for byte as it was; a
// successful one leaves a file that loads, whose control lists are intact;
// nothing but the configuration file appears in its directory.
#include <strings.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "config/zepacmd.h"
#include "foundation/zepprops.h"
#include "fuzz_support.h"

namespace {

const char kConfig[] =
    "#ZEPAC0003I Data collector configuration file\n"
    "1.server1.monitor=off\n1.server1.log=error\n1.server1.trace=off\n"
    "1.server1.monitor.control.count=2\n"
    "1.server1.monitor.control.1=OrderPort;submitOrder;*;full\n"
    "1.server1.monitor.control.2=*;*;*;none\n"
    "1.server1.filter.control.count=1\n"
    "1.server1.filter.control.1=OrderPort;*;10.0.0.1;reject\n"
    "2.app.node1.monitor=on\n";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = zepfuzz::configDir() + "/ZEP.dc.properties";
  zepfuzz::writeFile(path, kConfig, sizeof(kConfig) - 1);
  // The first byte picks the answer buffer's size, so that short buffers
  // are tried too; the rest is the command. The buffer has its exact size,
  // so that ASan sees overruns.
  const int bufSize = size > 0 ? data[0] % 80 : 0;
  const std::string command(reinterpret_cast<const char*>(data) + (size > 0), size - (size > 0));
  std::unique_ptr<char[]> msg(bufSize > 0 ? new char[bufSize] : nullptr);

  ZEPPROPS_properties props;
  props.setPropertyFilename(path.c_str());
  using A = ZEPACMD_actionCommand;
  const int rc = A().handleAction(command.c_str(), props, msg.get(), bufSize);
  ZEPFUZZ_CHECK(rc == A::RC_SUCCESS || rc == A::RC_NO_CHANGE || rc == A::RC_ERROR);
  ZEPFUZZ_CHECK(bufSize == 0 || memchr(msg.get(), '\0', bufSize) != nullptr);
  if (rc != A::RC_SUCCESS) {
    ZEPFUZZ_CHECK(zepfuzz::readFile(path) == kConfig);
  } else if (strncasecmp(command.c_str(), "setKeyVal", 9) != 0) {
    // (setKeyVal is the raw edit: it may set any key, counts included.)
    // The control lists of server1 still have every numbered key.
    ZEPPROPS_properties reloaded;
    ZEPFUZZ_CHECK(reloaded.load(path.c_str()) == ZEPPROPS_properties::OK);
    for (const std::string list : {"monitor", "filter"}) {
      const std::string base = "1.server1." + list + ".control.";
      for (int i = 1, n = reloaded.getPropertyAsInt((base + "count").c_str(), -1); i <= n; ++i) {
        ZEPFUZZ_CHECK(reloaded.getProperty((base + std::to_string(i)).c_str()) != nullptr);
      }
    }
  }
  ZEPFUZZ_CHECK(zepfuzz::filesIn(zepfuzz::configDir()) == 1);
  return 0;
}
