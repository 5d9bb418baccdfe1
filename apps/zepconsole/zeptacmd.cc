// Test console: the menus and commands of the developer's terminal.
#include "zepconsole/zeptacmd.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "axo/base/osb1.h"
#include "axo/base/trk1.h"
#include "config/zepacmd.h"
#include "config/zepctele.h"
#include "config/zepdcmte.h"
#include "config/zepfctel.h"
#include "foundation/zepdiren.h"
#include "foundation/zepdirls.h"
#include "foundation/zepport.h"
#include "foundation/zepprops.h"
#include "foundation/zepstrut.h"
#include "foundation/zeputil.h"
#include "logs/zepshared.h"
#include "runtime/zepdisp.h"

TRK1_UNIT(zeptacmd_unit, "ZEPTACMD");

using SU = ZEPSTRUT_stringUtil;

namespace {

const char kMenu[] =
    "\nEnter one of the following commands:\n"
    "  DIR        - list a subdirectory\n"
    "  LOAD       - load a properties file\n"
    "  SAVE       - save a properties file\n"
    "  SET        - set a property\n"
    "  REMOVE     - remove a property\n"
    "  GET        - get a property\n"
    "  CLEAR      - clear the properties\n"
    "  LIST       - list the properties\n"
    "  ACMD       - invoke an action command\n"
    "  ITOA       - test itoa method\n"
    "  ATOI       - test atoi method\n"
    "  CONFIGNAME - test getConfigName method\n"
    "  LOGDIR     - test getLogDir method\n"
    "  INITDCA    - test DCA init method\n"
    "  TIME       - test TIME format method\n"
    "  GBLCFG     - test global config table\n"
    "  END        - end this program\n";

const char kActionPrompt[] =
    "Enter an individual action command string  or\n"
    "CMDS for a list of valid command syntaxes  or\n"
    "@filename to test the commands in a file   or\n"
    "DONE to return to the main menu\n";

const char kCommandSyntax[] =
    "Valid commands:  enableMonitoring server env hostname\n"
    "  disableMonitoring server env hostname\n"
    "  updateLogging server env hostname \n<info|warning|error>\n"
    "  updateTracing server env hostname \n<on|off>\n"
    "  addMonitorControl server env hostname \nport operation <none|headers|body|full>\n"
    "  deleteMonitorControl server env hostname \nport operation\n"
    "  addFilterControl server env hostname \nport operation client\n"
    "  deleteFilterControl server env hostname \nport operation client\n\n";

// Buffer sizes of the console's reads: a menu choice of at most 80
// characters, prompted names and values, action command lines, batch lines.
const int kMenuLine = 81;
const int kNameLine = 261;
const int kCommandLine = 1025;
const int kBatchLine = 2048;

// Runs one action command as the command handler does: under the
// configuration lock.
int runAction(const char* command, ZEPPROPS_properties& props, char* answer, int answerSize) {
  OSB1_ScopedLock configLock(&ZEPSHARED_agentData::configPropertiesLock);
  ZEPACMD_actionCommand action;
  return action.handleAction(command, props, answer, answerSize);
}

// The console's dialogue on standard input and output. Reading stops at the
// end of the input, which ends the console as END does.
class Console {
 public:
  Console() { in_.fp = stdin; }
  Console(const Console&) = delete;
  Console& operator=(const Console&) = delete;

  void run();

 private:
  using Command = void (Console::*)();
  struct MenuEntry {
    const char* name;
    Command command;
  };

  bool readLine(char* buffer, int size);
  bool prompt(const char* text, char* buffer, int size);

  void dir();
  void load();
  void save();
  void set();
  void remove();
  void get();
  void clear() { props_.clear(); }
  void list();
  void actions();
  void itoa();
  void atoi();
  void configName();
  void logDir();
  void initDca();
  void time();
  void globalConfig();

  static const MenuEntry kEntries[];

  ZEP_FILE in_;
  bool eof_ = false;
  ZEPPROPS_properties props_;  // the property commands' own set
};

const Console::MenuEntry Console::kEntries[] = {
    {"DIR", &Console::dir},       {"LOAD", &Console::load},
    {"SAVE", &Console::save},     {"SET", &Console::set},
    {"REMOVE", &Console::remove}, {"GET", &Console::get},
    {"CLEAR", &Console::clear},   {"LIST", &Console::list},
    {"ACMD", &Console::actions},  {"ITOA", &Console::itoa},
    {"ATOI", &Console::atoi},     {"CONFIGNAME", &Console::configName},
    {"LOGDIR", &Console::logDir}, {"INITDCA", &Console::initDca},
    {"TIME", &Console::time},     {"GBLCFG", &Console::globalConfig},
};

bool Console::readLine(char* buffer, int size) {
  if (!eof_ && ZEPPORT::getline(&in_, buffer, size) != nullptr) return true;
  eof_ = true;
  buffer[0] = '\0';
  return false;
}

bool Console::prompt(const char* text, char* buffer, int size) {
  std::fputs(text, stdout);
  std::fflush(stdout);
  return readLine(buffer, size);
}

void Console::run() {
  char choice[kMenuLine];
  while (!eof_) {
    std::fputs(kMenu, stdout);
    std::fflush(stdout);
    if (!readLine(choice, sizeof(choice)) || SU::strcmpi(choice, "END") == 0) return;
    for (const MenuEntry& entry : kEntries) {
      if (SU::strcmpi(choice, entry.name) == 0) {
        (this->*entry.command)();
        break;
      }
    }
  }
}

void Console::dir() {
  char name[kNameLine];
  if (!prompt("Enter subdirectory to list:\n", name, sizeof(name))) return;
  ZEPDIRLS_dirList listing(name[0] != '\0' ? name : ".");
  for (ZEPLELEM_listElem* e = listing.fileList.front(); e != nullptr;
       e = listing.fileList.next(e)) {
    const auto* entry = static_cast<const ZEPDIREN_dirEntry*>(e);
    time_t stamp = entry->getTimestamp();
    struct tm local;
    char when[32] = "";
    if (localtime_r(&stamp, &local) != nullptr) {
      std::strftime(when, sizeof(when), "%m/%d/%Y %I:%M:%S %p", &local);
    }
    char size[24];
    std::snprintf(size, sizeof(size), "%11ld", static_cast<long>(entry->getFilesize()));
    std::printf("%s\t%s\t%s\n", when, size, entry->getFilename());
  }
}

void Console::load() {
  char name[kNameLine];
  if (!prompt("Enter properties file to load:\n", name, sizeof(name))) return;
  props_.setPropertyFilename(name);
  props_.load();
}

void Console::save() {
  char name[kNameLine];
  char comment[kNameLine];
  if (!prompt("Enter properties file to save:\n", name, sizeof(name))) return;
  if (!prompt("Enter a comment to write to the file:\n", comment, sizeof(comment))) return;
  props_.save(name, comment);
}

void Console::set() {
  char key[kNameLine];
  char value[kNameLine];
  if (!prompt("Enter property key to set:\n", key, sizeof(key))) return;
  if (!prompt("Enter property value to set:\n", value, sizeof(value))) return;
  props_.setProperty(key, value);
}

void Console::remove() {
  char key[kNameLine];
  if (prompt("Enter property key to remove:\n", key, sizeof(key))) props_.remove(key);
}

void Console::get() {
  char key[kNameLine];
  if (!prompt("Enter property key to get:\n", key, sizeof(key))) return;
  const char* value = props_.getProperty(key);
  if (value != nullptr) {
    std::printf("%s=%s\n", key, value);
  } else {
    std::printf("Key not found '%s'\n", key);
  }
}

void Console::list() {
  for (ZEPKVPAR_keyValuePair* e = props_.front(); e != nullptr; e = props_.next(e)) {
    std::printf("%s=%s\n", e->getKey(), e->getValue());
  }
}

void Console::actions() {
  char line[kCommandLine];
  while (prompt(kActionPrompt, line, sizeof(line))) {
    if (SU::strcmpi(line, "DONE") == 0) return;
    if (SU::strcmpi(line, "CMDS") == 0) {
      std::fputs(kCommandSyntax, stdout);
    } else if (line[0] == '@') {
      ZEPTACMD_testActionCommand::testActions(line + 1, ZEPSHARED_agentData::configProperties);
    } else {
      char answer[10];
      runAction(line, ZEPSHARED_agentData::configProperties, answer, sizeof(answer));
      std::printf("\n");
    }
  }
}

void Console::itoa() {
  char number[kNameLine];
  if (!prompt("Enter an integer\n", number, sizeof(number))) return;
  char text[12];
  std::printf("Number entered was: %s\n", SU::itoa(std::atoi(number), text));
}

void Console::atoi() {
  char number[kNameLine];
  if (!prompt("Enter an integer\n", number, sizeof(number))) return;
  int value = SU::atoi(number);
  if (value == SU::ATOI_ERROR) {
    std::printf("ERROR: [%s] is not recognized as a number", number);
  } else {
    std::printf("Number entered was: %d\n", value);
  }
}

void Console::configName() {
  char path[ZEPUTIL::PATH_SIZE];
  std::printf("config File name is: %s", ZEPUTIL::getConfigFileName(path));
}

void Console::logDir() {
  char path[ZEPUTIL::PATH_SIZE];
  std::printf("log directory is: %s", ZEPUTIL::getLogDirName(path));
}

void Console::initDca() {
  ZEPDISP_dispatcher::init(nullptr);
  ZEPLLST_LinkedList* filters = ZEPFCTEL_FilterCtl::getFilterCtlTable();
  ZEPLLST_LinkedList* monitors = ZEPDCMTE_MonitorCtl::getMonitorCtlTable();
  std::printf("Number of filter controls is %d\n", filters->size());
  std::printf("Number of monitor controls is %d\n", monitors->size());
  delete filters;
  delete monitors;
}

void Console::time() {
  time_t now = ZEPPORT::now();
  char stamp[17];
  std::printf("Current timestamp is: %s\n", SU::formatTimestamp(&now, stamp, 0, sizeof(stamp)));
}

void Console::globalConfig() {
  ZEPLLST_LinkedList* rows = ZEPCTELE_GlobalCfg::getGlobalConfigTable();
  std::printf("Number of rows returned = %d\n", rows->size());
  delete rows;
}

}  // namespace

void ZEPTACMD_testActionCommand::testActions(const char* fileName, ZEPPROPS_properties& props) {
  TRK1_FlowScope flow(&zeptacmd_unit, "testActions");
  ZEP_FILE file;
  if (ZEPPORT::zep_open(fileName, "r", &file, 0666) != 0) {
    std::printf("Input stream not open.\n");
    return;
  }
  int counts[3] = {0, 0, 0};  // indexed by result code
  char line[kBatchLine];
  while (ZEPPORT::getline(&file, line, sizeof(line)) != nullptr) {
    if (line[0] == '\0' || line[0] == '#' || line[0] == '!') continue;
    char answer[1];
    int rc = runAction(line, props, answer, sizeof(answer));
    std::printf("\n");
    if (rc >= ZEPACMD_actionCommand::RC_SUCCESS && rc <= ZEPACMD_actionCommand::RC_ERROR) {
      counts[rc]++;
    }
  }
  ZEPPORT::zep_close(&file);
  std::printf("Results:\n");
  std::printf("  Success:   %d\n", counts[ZEPACMD_actionCommand::RC_SUCCESS]);
  std::printf("  No Change: %d\n", counts[ZEPACMD_actionCommand::RC_NO_CHANGE]);
  std::printf("  Error:     %d\n", counts[ZEPACMD_actionCommand::RC_ERROR]);
}

int testmain(int, char**) {
  ZEPDISP_dispatcher::init(nullptr);
  Console console;
  console.run();
  std::fflush(stdout);
  // No thread of the agent may touch a static object while it is destroyed.
  ZEPDISP_dispatcher::stop();
  return 0;
}
