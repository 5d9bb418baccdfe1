// Fuzz target: an action command text against a small configuration file,
// through handleAction.
//
// Holds after every input: no crash or sanitizer report; the answer buffer
// is never written past its size and is terminated; a rejected command or
// one that changed nothing leaves the file byte for byte as it was; a
// successful one leaves a file that loads, whose control lists are intact;
// nothing but the configuration file appears in its directory.
#include <dirent.h>

#include <cstdint>
#include <strings.h>

#include <cstring>
#include <string>

#include "config/zepacmd.h"
#include "foundation/zepprops.h"
#include "fuzz_support.h"

namespace {

const char kConfig[] =
    "#ZEPAC0003I Data collector configuration file\n"
    "1.server1.monitor=off\n"
    "1.server1.log=error\n"
    "1.server1.trace=off\n"
    "1.server1.monitor.control.count=2\n"
    "1.server1.monitor.control.1=OrderPort;submitOrder;*;full\n"
    "1.server1.monitor.control.2=*;*;*;none\n"
    "1.server1.filter.control.count=1\n"
    "1.server1.filter.control.1=OrderPort;*;10.0.0.1;reject\n"
    "2.app.node1.monitor=on\n";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string dir = zepfuzz::configDir();
  const std::string path = dir + "/ZEP.dc.properties";
  zepfuzz::writeFile(path, reinterpret_cast<const uint8_t*>(kConfig), sizeof(kConfig) - 1);

  // The first byte picks the answer buffer's size, so that short buffers
  // are tried too; the rest is the command.
  const int bufSize = size > 0 ? data[0] % 80 : 0;
  const std::string command(reinterpret_cast<const char*>(data) + (size > 0),
                            size > 0 ? size - 1 : 0);
  char* msg = bufSize > 0 ? new char[bufSize] : nullptr;  // exact size: ASan sees overruns

  ZEPPROPS_properties props;
  props.setPropertyFilename(path.c_str());
  ZEPACMD_actionCommand action;
  const int rc = action.handleAction(command.c_str(), props, msg, bufSize);
  ZEPFUZZ_CHECK(rc == ZEPACMD_actionCommand::RC_SUCCESS ||
                rc == ZEPACMD_actionCommand::RC_NO_CHANGE ||
                rc == ZEPACMD_actionCommand::RC_ERROR);
  if (bufSize > 0) ZEPFUZZ_CHECK(memchr(msg, '\0', bufSize) != nullptr);
  delete[] msg;

  const std::string after = zepfuzz::readFile(path);
  if (rc != ZEPACMD_actionCommand::RC_SUCCESS) {
    ZEPFUZZ_CHECK(after == kConfig);
  } else if (strncasecmp(command.c_str(), "setKeyVal", 9) != 0) {
    // (setKeyVal is the raw edit: it may set any key, counts included.)
    ZEPPROPS_properties reloaded;
    ZEPFUZZ_CHECK(reloaded.load(path.c_str()) == ZEPPROPS_properties::OK);
    // The control lists of server1 still have every numbered key.
    for (const char* list : {"monitor", "filter"}) {
      const std::string base = std::string("1.server1.") + list + ".control.";
      const int count = reloaded.getPropertyAsInt((base + "count").c_str(), -1);
      for (int i = 1; i <= count; ++i) {
        ZEPFUZZ_CHECK(reloaded.getProperty((base + std::to_string(i)).c_str()) != nullptr);
      }
    }
  }
  ZEPFUZZ_CHECK(zepfuzz::filesIn(dir) == 1);
  return 0;
}
