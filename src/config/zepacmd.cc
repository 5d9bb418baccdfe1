// Action commands: parsing and applying operators' edits of the configuration.
#include "config/zepacmd.h"

#include <cstring>

#include "axo/base/trk1.h"
#include "foundation/zepprops.h"
#include "foundation/zepstrut.h"

TRK1_UNIT(zepacmd_unit, "ZEPACMD");

using SU = ZEPSTRUT_stringUtil;
using Field = ZEPACMD_actionCommand::Field;

const ZEPACMD_actionCommand::StrMap ZEPACMD_actionCommand::ENV_STR_MAP[9] = {
    {"Granite_Application_Server", "1"},
    {"Quill_Runtime", "2"},
    {"Marlin_Server", "3"},
    {"Osprey", "4"},
    {"Kestrel", "5"},
    {"Tundra", "6"},
    {"Granite_Community_Edition", "7"},
    {"Sentinel_Gateway", "8"},
    {"Component_Assembly_Runtime", "9"},
};
const ZEPACMD_actionCommand::StrMap ZEPACMD_actionCommand::LOGLVL_STR_MAP[3] = {
    {"Error", "error"}, {"Warning", "warning"}, {"Info", "info"}};
const ZEPACMD_actionCommand::StrMap ZEPACMD_actionCommand::TRACE_STR_MAP[2] = {{"On", "on"},
                                                                               {"Off", "off"}};
const ZEPACMD_actionCommand::StrMap ZEPACMD_actionCommand::MONLVL_STR_MAP[4] = {
    {"None", "none"}, {"Header", "headers"}, {"Body", "body"}, {"Full", "full"}};

namespace {

// Field numbers of a command.
enum {
  F_NAME = 0,
  F_SERVER = 1,
  F_ENV = 2,
  F_HOST = 3,
  F_PORT = 4,
  F_OP = 5,
  F_CLIENT = 6,
  F_LEVEL = 7,
};

const char kGetKeyVal[] = "getKeyVal ";
const char kSetKeyVal[] = "setKeyVal ";
const char kAddMonitor[] = "addMonitorControl";
const char kDeleteMonitor[] = "deleteMonitorControl";
const char kWildcard[] = "*";
const char kReject[] = "reject";

// The longest line the properties reader takes whole.
const int kMaxFileLine = 2046;

// --- messages ---------------------------------------------------------------

// Writes `text` as an error record.
void logMsg(const char* text) { TRK1_Trace(&zepacmd_unit, TRK1_ERROR, "%s\n", text); }

// Writes `prefix` followed by `text` as an error record; the messages of
// this module with one substitution all end with it.
void logMsgWithSub(const char* prefix, const std::string& text) {
  TRK1_Trace(&zepacmd_unit, TRK1_ERROR, "%s%s", prefix, text.c_str());
}

void processingCmdMsg(const char* command) {
  TRK1_Trace(&zepacmd_unit, TRK1_FLOW, "ZEPAC0001I Processing command: %s", command);
}

void badCmdMsg(const char* name, int length) {
  TRK1_Trace(&zepacmd_unit, TRK1_ERROR,
             "ZEPAC0002E The command specified is not a valid action command: %.*s", length,
             name != nullptr ? name : "");
}

const char kMissingProperty[] = "ZEPAC0010E The configuration file is missing a property: ";
const char kBadControl[] = "ZEPAC0010E The configuration file contains a bad control value: ";
const char kMatchingControl[] =
    "ZEPAC0010E The configuration file already contains a matching control: ";
const char kBadCount[] = "ZEPAC0010E The configuration file contains a bad count value: ";

// --- fields -----------------------------------------------------------------

bool present(const Field& f) { return f.ptr != nullptr; }

bool isWildcard(const Field& f) { return f.len == 1 && f.ptr[0] == '*'; }

// A line break inside a stored text would split or swallow lines of the
// shared configuration file.
bool hasLineBreak(const char* text, int len) {
  return len > 0 &&
         (std::memchr(text, '\n', len) != nullptr || std::memchr(text, '\r', len) != nullptr);
}

bool sameText(const Field& a, const Field& b) {
  return a.len == b.len && (a.len == 0 || std::memcmp(a.ptr, b.ptr, a.len) == 0);
}

bool equalsNoCase(const char* a, int aLen, const char* b) {
  int bLen = static_cast<int>(std::strlen(b));
  return a != nullptr && aLen == bLen && SU::memcmpi(a, b, aLen) == 0;
}

Field literal(const char* text) { return Field{text, static_cast<int>(std::strlen(text))}; }

std::string text(const Field& f) { return f.len > 0 ? std::string(f.ptr, f.len) : std::string(); }

void trim(Field* f) {
  SU::stripLeading(f);
  SU::stripTrailing(f);
}

// Splits a stored control value into its fields; true when there are four.
bool splitControl(const char* value, Field* out) { return SU::split(value, out, 4, ';') == 4; }

// The length a "key=value" line takes in the file once backslashes are
// doubled.
int escapedLineLength(const std::string& key, const std::string& value) {
  int length = static_cast<int>(key.size() + 1 + value.size());
  for (char c : key) length += (c == '\\');
  for (char c : value) length += (c == '\\');
  return length;
}

// --- validators (each reports its own fault and never stops the others) ----

using Validator = bool (*)(Field* fields, const ZEPPROPS_properties& props);

// A name field: present, at most 64 characters, on one line.
bool validName(const Field& f) {
  return present(f) && f.len <= ZEPACMD_actionCommand::MAX_NAME_LENGTH &&
         !hasLineBreak(f.ptr, f.len);
}

// Replaces `f` by the stored word of `table` when it is an accepted word.
bool mapField(Field* f, const ZEPACMD_actionCommand::StrMap* table, int rows) {
  if (!present(*f)) return false;
  const ZEPACMD_actionCommand::StrMap* row = SU::mapString(f->ptr, table, rows, f->len);
  if (row == nullptr) return false;
  *f = literal(row->value);
  return true;
}

bool report(bool valid, const char* message) {
  if (!valid) logMsg(message);
  return valid;
}

bool validEnv(Field* fields, const ZEPPROPS_properties&) {
  return report(mapField(&fields[F_ENV], ZEPACMD_actionCommand::ENV_STR_MAP, 9),
                "ZEPAC0009E The application server environment is missing or not valid");
}

bool validAppServer(Field* fields, const ZEPPROPS_properties& props) {
  const Field& server = fields[F_SERVER];
  const Field& env = fields[F_ENV];
  bool valid =
      present(server) && server.len >= 1 && server.len <= ZEPACMD_actionCommand::MAX_NAME_LENGTH;
  if (valid) {
    std::string key =
        ZEPACMD_actionCommand::buildDCKey(server.ptr, server.len, env.ptr, env.len, ".monitor");
    valid = props.getProperty(key.c_str()) != nullptr;
  }
  return report(valid, "ZEPAC0008E The application server name is missing or not valid");
}

bool validHostName(Field* fields, const ZEPPROPS_properties&) {
  return report(validName(fields[F_HOST]), "ZEPAC0010E The host name is missing or not valid");
}

// Environment first, so that the server key is built with the stored code.
bool validCommonParts(Field* fields, const ZEPPROPS_properties& props) {
  bool env = validEnv(fields, props);
  bool server = validAppServer(fields, props);
  bool host = validHostName(fields, props);
  return env && server && host;
}

bool validLogLevel(Field* fields, const ZEPPROPS_properties&) {
  return report(mapField(&fields[F_PORT], ZEPACMD_actionCommand::LOGLVL_STR_MAP, 3),
                "ZEPAC0004E The logging level is missing or not valid");
}

bool validTraceLevel(Field* fields, const ZEPPROPS_properties&) {
  return report(mapField(&fields[F_PORT], ZEPACMD_actionCommand::TRACE_STR_MAP, 2),
                "ZEPAC0005E The trace level is missing or not valid");
}

bool validPortName(Field* fields, const ZEPPROPS_properties&) {
  return report(validName(fields[F_PORT]), "ZEPAC0011E The WSDL port name is missing or not valid");
}

bool validOperationName(Field* fields, const ZEPPROPS_properties&) {
  return report(validName(fields[F_OP]),
                "ZEPAC0012E The WSDL operation name is missing or not valid");
}

// Any port with any operation, or a specific port: "*" with a specific
// operation names nothing.
bool validPortAndOperation(Field* fields, const ZEPPROPS_properties&) {
  bool valid = isWildcard(fields[F_OP]) || !isWildcard(fields[F_PORT]);
  return report(valid,
                "ZEPAC0010E The combination of WSDL port name and operation name is not valid");
}

bool validMonitorLevel(Field* fields, const ZEPPROPS_properties&) {
  return report(mapField(&fields[F_CLIENT], ZEPACMD_actionCommand::MONLVL_STR_MAP, 4),
                "ZEPAC0006E The monitor level is missing or not valid");
}

bool validClientAddr(Field* fields, const ZEPPROPS_properties&) {
  return report(validName(fields[F_CLIENT]),
                "ZEPAC0010E The client address is missing or not valid");
}

bool validFilterAction(Field* fields, const ZEPPROPS_properties&) {
  Field& action = fields[F_LEVEL];
  bool valid = equalsNoCase(action.ptr, action.len, kReject);
  if (valid) action = literal(kReject);
  return report(valid, "ZEPAC0007E The filter action is missing or not valid");
}

// --- commands ---------------------------------------------------------------

struct CommandDef;
using Apply = int (*)(ZEPACMD_actionCommand& self, const CommandDef& def, Field* fields,
                      ZEPPROPS_properties& props);

// One command of the syntax table: its name (matched without regard to
// case), the name that selects its control list, its field count (name
// included), its validators in order, and what it does once valid.
struct CommandDef {
  const char* name;
  const char* canonical;
  int fieldCount;
  Validator validators[6];
  Apply apply;
  const char* suffix;  // key suffix of the setting it changes, if any
  const char* word;    // the word it stores, if fixed
};

std::string settingKey(const Field* fields, const char* suffix) {
  return ZEPACMD_actionCommand::buildDCKey(fields[F_SERVER].ptr, fields[F_SERVER].len,
                                           fields[F_ENV].ptr, fields[F_ENV].len, suffix);
}

// enableMonitoring / disableMonitoring: a value that already begins with the
// word counts as set. An absent key counts as different.
int applySwitch(ZEPACMD_actionCommand&, const CommandDef& def, Field* fields,
                ZEPPROPS_properties& props) {
  std::string key = settingKey(fields, def.suffix);
  const char* current = props.getProperty(key.c_str());
  int wordLen = static_cast<int>(std::strlen(def.word));
  if (current != nullptr && static_cast<int>(std::strlen(current)) >= wordLen &&
      SU::memcmpi(current, def.word, wordLen) == 0) {
    return ZEPACMD_actionCommand::RC_NO_CHANGE;
  }
  props.setProperty(key.c_str(), def.word);
  return ZEPACMD_actionCommand::RC_SUCCESS;
}

// updateLogging / updateTracing: field 4 holds the stored word.
int applyWord(ZEPACMD_actionCommand&, const CommandDef& def, Field* fields,
              ZEPPROPS_properties& props) {
  std::string key = settingKey(fields, def.suffix);
  std::string word = text(fields[F_PORT]);
  const char* current = props.getProperty(key.c_str());
  if (current != nullptr &&
      equalsNoCase(current, static_cast<int>(std::strlen(current)), word.c_str())) {
    return ZEPACMD_actionCommand::RC_NO_CHANGE;
  }
  props.setProperty(key.c_str(), word.c_str());
  return ZEPACMD_actionCommand::RC_SUCCESS;
}

// The monitor level validated in field 6 moves to field 7; the client of a
// monitor control is always "*".
void prepareMonitorControl(Field* fields) {
  fields[F_LEVEL] = fields[F_CLIENT];
  fields[F_CLIENT] = literal(kWildcard);
}

int insertControl(ZEPACMD_actionCommand& self, Field* fields, ZEPPROPS_properties& props) {
  int position = self.findInsertPosition(fields, props, false, nullptr);
  if (position < 1) return ZEPACMD_actionCommand::RC_ERROR;
  if (self.insertAtPosition(fields, props, position) < 1) return ZEPACMD_actionCommand::RC_ERROR;
  return ZEPACMD_actionCommand::RC_SUCCESS;
}

int deleteControl(ZEPACMD_actionCommand& self, Field* fields, ZEPPROPS_properties& props) {
  int position = self.findDeletePosition(fields, props);
  if (position == ZEPACMD_actionCommand::POS_NOT_FOUND) {
    logMsg("ZEPAC0001W The specified control does not exist in the configuration file");
    return ZEPACMD_actionCommand::RC_NO_CHANGE;
  }
  if (position < 1 || self.deleteAtPosition(fields, props, position) < 1) {
    return ZEPACMD_actionCommand::RC_ERROR;
  }
  return ZEPACMD_actionCommand::RC_SUCCESS;
}

int applyAddMonitor(ZEPACMD_actionCommand& self, const CommandDef&, Field* fields,
                    ZEPPROPS_properties& props) {
  prepareMonitorControl(fields);
  return insertControl(self, fields, props);
}

// updateMonitorControlTraceLevel: replaces the value of the stored control
// with the same port, operation and client "*". The file is saved once, by
// handleAction, with its header.
int applyUpdateMonitor(ZEPACMD_actionCommand& self, const CommandDef&, Field* fields,
                       ZEPPROPS_properties& props) {
  prepareMonitorControl(fields);
  int found = 0;
  int rc = self.findInsertPosition(fields, props, true, &found);
  if (rc != ZEPACMD_actionCommand::POS_DUPLICATE || found < 1) {
    return ZEPACMD_actionCommand::RC_ERROR;
  }
  char number[12];
  std::string key = settingKey(fields, ".monitor.control.") + SU::itoa(found, number);
  props.setProperty(key.c_str(), ZEPACMD_actionCommand::buildControlValue(fields).c_str());
  return ZEPACMD_actionCommand::RC_SUCCESS;
}

int applyDeleteMonitor(ZEPACMD_actionCommand& self, const CommandDef&, Field* fields,
                       ZEPPROPS_properties& props) {
  fields[F_CLIENT] = literal(kWildcard);
  return deleteControl(self, fields, props);
}

int applyAddFilter(ZEPACMD_actionCommand& self, const CommandDef&, Field* fields,
                   ZEPPROPS_properties& props) {
  return insertControl(self, fields, props);
}

int applyDeleteFilter(ZEPACMD_actionCommand& self, const CommandDef&, Field* fields,
                      ZEPPROPS_properties& props) {
  return deleteControl(self, fields, props);
}

const CommandDef kCommands[] = {
    {"enableMonitoring", "enableMonitoring", 4, {validCommonParts}, applySwitch, ".monitor", "on"},
    {"disableMonitoring",
     "disableMonitoring",
     4,
     {validCommonParts},
     applySwitch,
     ".monitor",
     "off"},
    {"updateLogging",
     "updateLogging",
     5,
     {validCommonParts, validLogLevel},
     applyWord,
     ".log",
     nullptr},
    {"updateTracing",
     "updateTracing",
     5,
     {validCommonParts, validTraceLevel},
     applyWord,
     ".trace",
     nullptr},
    {"addMonitorControl",
     kAddMonitor,
     7,
     {validCommonParts, validPortName, validOperationName, validPortAndOperation,
      validMonitorLevel},
     applyAddMonitor,
     nullptr,
     nullptr},
    {"updateMonitorControlTraceLevel",
     kAddMonitor,
     7,
     {validCommonParts, validPortName, validOperationName, validPortAndOperation,
      validMonitorLevel},
     applyUpdateMonitor,
     nullptr,
     nullptr},
    {"deleteMonitorControl",
     kDeleteMonitor,
     6,
     {validCommonParts, validPortName, validOperationName},
     applyDeleteMonitor,
     nullptr,
     nullptr},
    {"addFilterControl",
     "addFilterControl",
     7,
     {validCommonParts, validPortName, validOperationName, validPortAndOperation, validClientAddr,
      validFilterAction},
     applyAddFilter,
     nullptr,
     kReject},
    {"deleteFilterControl",
     "deleteFilterControl",
     7,
     {validCommonParts, validPortName, validOperationName, validClientAddr},
     applyDeleteFilter,
     nullptr,
     nullptr},
};

// Runs one command of the syntax table: the count check and every validator
// (so that all faults are reported), then the change.
int runCommand(ZEPACMD_actionCommand& self, const CommandDef& def, Field* fields, int count,
               ZEPPROPS_properties& props) {
  bool valid = true;
  if (count != def.fieldCount) {
    logMsg("ZEPAC0003E The number of command parameters is incorrect");
    valid = false;
  }
  fields[F_NAME] = literal(def.canonical);
  // A filter command carries no action: it always rejects.
  if (def.word == kReject) fields[F_LEVEL] = literal(kReject);
  for (Validator check : def.validators) {
    if (check == nullptr) break;
    if (!check(fields, props)) valid = false;
  }
  if (!valid) return ZEPACMD_actionCommand::RC_ERROR;
  return def.apply(self, def, fields, props);
}

// "getKeyVal <key>": answers "key=value" when it fits into msgBuf, else the
// empty string.
int getKeyVal(const char* rest, const ZEPPROPS_properties& props, char* msgBuf, int msgBufSize) {
  Field key{rest, static_cast<int>(std::strlen(rest))};
  trim(&key);
  std::string name = text(key);
  const char* value = props.getProperty(name.c_str());
  if (value != nullptr && msgBufSize > 0) {
    std::string answer = name + "=" + value;
    if (static_cast<int>(answer.size()) < msgBufSize) {
      SU::strSegmentCopy(msgBuf, msgBufSize, answer.c_str(), static_cast<int>(answer.size()));
    }
  }
  return ZEPACMD_actionCommand::RC_SUCCESS;
}

// "setKeyVal <key>=<value>": sets the key, or removes it for an empty value.
// Text that the properties file cannot hold as one line of its own is
// rejected rather than written.
int setKeyVal(const char* rest, ZEPPROPS_properties& props) {
  const char* eq = std::strchr(rest, '=');
  if (eq == nullptr) return ZEPACMD_actionCommand::RC_SUCCESS;
  Field key{rest, static_cast<int>(eq - rest)};
  Field value{eq + 1, static_cast<int>(std::strlen(eq + 1))};
  trim(&key);
  trim(&value);
  std::string k = text(key);
  std::string v = text(value);
  if (k.empty() || k[0] == '#' || k[0] == '!' || hasLineBreak(k.data(), key.len) ||
      hasLineBreak(v.data(), value.len) || escapedLineLength(k, v) > kMaxFileLine) {
    logMsgWithSub("ZEPAC0013E The property cannot be stored in the configuration file: ", k);
    return ZEPACMD_actionCommand::RC_ERROR;
  }
  props.setProperty(k.c_str(), v.c_str());
  return ZEPACMD_actionCommand::RC_SUCCESS;
}

int dispatchCommand(ZEPACMD_actionCommand& self, const char* command, ZEPPROPS_properties& props,
                    char* msgBuf, int msgBufSize) {
  if (SU::beginsWith(kGetKeyVal, command)) {
    return getKeyVal(command + std::strlen(kGetKeyVal), props, msgBuf, msgBufSize);
  }
  if (SU::beginsWith(kSetKeyVal, command)) {
    return setKeyVal(command + std::strlen(kSetKeyVal), props);
  }
  Field fields[ZEPACMD_actionCommand::MAX_FIELDS] = {};
  int count = SU::split(command, fields, ZEPACMD_actionCommand::MAX_FIELDS, ';');
  for (int i = 0; i < count; i++) trim(&fields[i]);
  // A blank text holds neither a name nor parameters; an empty name before
  // parameters (";;;") is a name that is not a command.
  if (count <= 1 && fields[F_NAME].len == 0) {
    logMsg("ZEPAC0001E The command string contains no command name or parameters");
    return ZEPACMD_actionCommand::RC_ERROR;
  }
  for (const CommandDef& def : kCommands) {
    if (equalsNoCase(fields[F_NAME].ptr, fields[F_NAME].len, def.name)) {
      return runCommand(self, def, fields, count, props);
    }
  }
  badCmdMsg(fields[F_NAME].ptr, fields[F_NAME].len);
  return ZEPACMD_actionCommand::RC_ERROR;
}

// --- control lists ------------------------------------------------------

bool isMonitorList(const Field* fields) {
  const Field& name = fields[F_NAME];
  return sameText(name, literal(kAddMonitor)) || sameText(name, literal(kDeleteMonitor));
}

// Reads the count of a list: 0 when the key is absent; false (with the bad
// count message) when it is negative or not a number.
bool readCount(const ZEPPROPS_properties& props, const std::string& countKey, int* count) {
  const char* value = props.getProperty(countKey.c_str());
  *count = value == nullptr ? 0 : SU::atoi(value);
  if (*count < 0) {
    logMsgWithSub(kBadCount, countKey);
    return false;
  }
  return true;
}

std::string numberedKey(const std::string& stem, int i) {
  char number[12];
  return stem + "." + SU::itoa(i, number);
}

// Reads control `i` into its four fields. False (with a message) when the
// key is missing or the value has not four fields.
bool readControl(const ZEPPROPS_properties& props, const std::string& stem, int i, Field* out) {
  std::string key = numberedKey(stem, i);
  const char* value = props.getProperty(key.c_str());
  if (value == nullptr) {
    logMsgWithSub(kMissingProperty, key);
    return false;
  }
  if (!splitControl(value, out)) {
    logMsgWithSub(kBadControl, key);
    return false;
  }
  return true;
}

// True when every key from..to of the list exists; otherwise reports the
// first missing one.
bool keysPresent(const ZEPPROPS_properties& props, const std::string& stem, int from, int to) {
  for (int i = from; i <= to; i++) {
    std::string key = numberedKey(stem, i);
    if (props.getProperty(key.c_str()) == nullptr) {
      logMsgWithSub(kMissingProperty, key);
      return false;
    }
  }
  return true;
}

// Copies the value of control `from` to control `to`.
void moveControl(ZEPPROPS_properties& props, const std::string& stem, int from, int to) {
  std::string value = props.getProperty(numberedKey(stem, from).c_str());
  props.setProperty(numberedKey(stem, to).c_str(), value.c_str());
}

bool sameIdentity(const Field* newFields, const Field* stored) {
  return sameText(newFields[F_PORT], stored[0]) && sameText(newFields[F_OP], stored[1]) &&
         sameText(newFields[F_CLIENT], stored[2]);
}

// Monitor rank: 3 specific port and operation, 2 specific port, 1 any port.
int monitorRank(const Field& port, const Field& op) {
  if (isWildcard(port)) return 1;
  return isWildcard(op) ? 2 : 3;
}

// Filter rank: 1..3 as the monitor rank falls, plus 3 for any client.
int filterRank(const Field& port, const Field& op, const Field& client) {
  return 4 - monitorRank(port, op) + (isWildcard(client) ? 3 : 0);
}

}  // namespace

// --- public operations ------------------------------------------------------

int ZEPACMD_actionCommand::handleAction(const char* command, ZEPPROPS_properties& props,
                                        char* msgBuf, int msgBufSize) {
  TRK1_FlowScope flow(&zepacmd_unit, "handleAction");
  if (msgBuf == nullptr) msgBufSize = 0;
  if (msgBufSize > 0) msgBuf[0] = '\0';
  TRK1_Trace(&zepacmd_unit, TRK1_DETAIL, "Command received is: %s\n",
             command != nullptr ? command : "");
  processingCmdMsg(command != nullptr ? command : "");

  int rc = RC_ERROR;
  if (props.load() != ZEPPROPS_properties::OK) {
    rc = RC_ERROR;
  } else if (command == nullptr) {
    logMsg("ZEPAC0001E The command string contains no command name or parameters");
  } else {
    rc = dispatchCommand(*this, command, props, msgBuf, msgBufSize);
    if (rc == RC_SUCCESS && props.save(CONFIG_FILE_HEADER) != ZEPPROPS_properties::OK) {
      // The file kept its previous content; so must the shared properties.
      rc = RC_ERROR;
      props.load();
    }
  }
  return flow.exitWith(rc);
}

std::string ZEPACMD_actionCommand::controlStem(const Field* fields, bool monitorList) {
  return buildDCKey(fields[F_SERVER].ptr, fields[F_SERVER].len, fields[F_ENV].ptr,
                    fields[F_ENV].len, monitorList ? ".monitor.control" : ".filter.control");
}

int ZEPACMD_actionCommand::findInsertPosition(Field* fields, ZEPPROPS_properties& props,
                                              bool update, int* foundIndex) {
  bool monitor = isMonitorList(fields);
  std::string stem = controlStem(fields, monitor);
  int count = 0;
  if (!readCount(props, stem + ".count", &count)) return POS_DAMAGED;
  // The whole list is read before a position is chosen, so that a control of
  // the same identity is found even in a list that is out of rank order.
  int position = 0;
  for (int i = 1; i <= count; i++) {
    Field stored[4];
    if (!readControl(props, stem, i, stored)) return POS_DAMAGED;
    if (sameIdentity(fields, stored)) {
      if (update) {
        if (foundIndex != nullptr) *foundIndex = i;
      } else {
        logMsgWithSub(kMatchingControl, numberedKey(stem, i));
      }
      return POS_DUPLICATE;
    }
    bool lower =
        monitor ? isLowerMonitorPriority(fields, stored) : isLowerFilterPriority(fields, stored);
    if (position == 0 && lower) position = i;
  }
  return position != 0 ? position : count + 1;
}

bool ZEPACMD_actionCommand::isLowerMonitorPriority(const Field* newFields,
                                                   const Field* existingFields) {
  return monitorRank(existingFields[0], existingFields[1]) <
         monitorRank(newFields[F_PORT], newFields[F_OP]);
}

bool ZEPACMD_actionCommand::isLowerFilterPriority(const Field* newFields,
                                                  const Field* existingFields) {
  return filterRank(existingFields[0], existingFields[1], existingFields[2]) <
         filterRank(newFields[F_PORT], newFields[F_OP], newFields[F_CLIENT]);
}

int ZEPACMD_actionCommand::insertAtPosition(Field* fields, ZEPPROPS_properties& props,
                                            int position) {
  std::string stem = controlStem(fields, isMonitorList(fields));
  std::string countKey = stem + ".count";
  int count = 0;
  if (!readCount(props, countKey, &count) || position < 1 || position > count + 1) {
    return POS_DAMAGED;
  }
  if (position <= count) {
    if (!keysPresent(props, stem, position, count)) return POS_DAMAGED;
    for (int i = count; i >= position; i--) moveControl(props, stem, i, i + 1);
  }
  props.setProperty(numberedKey(stem, position).c_str(), buildControlValue(fields).c_str());
  props.setProperty(countKey.c_str(), count + 1);
  return position;
}

int ZEPACMD_actionCommand::findDeletePosition(Field* fields, ZEPPROPS_properties& props) {
  std::string stem = controlStem(fields, isMonitorList(fields));
  int count = 0;
  if (!readCount(props, stem + ".count", &count)) return POS_DAMAGED;
  for (int i = 1; i <= count; i++) {
    Field stored[4];
    if (!readControl(props, stem, i, stored)) return POS_DAMAGED;
    if (sameIdentity(fields, stored)) return i;
  }
  return POS_NOT_FOUND;
}

int ZEPACMD_actionCommand::deleteAtPosition(Field* fields, ZEPPROPS_properties& props,
                                            int position) {
  std::string stem = controlStem(fields, isMonitorList(fields));
  std::string countKey = stem + ".count";
  int count = 0;
  if (!readCount(props, countKey, &count) || position < 1 || position > count) {
    return POS_DAMAGED;
  }
  if (position < count) {
    if (!keysPresent(props, stem, position + 1, count)) return POS_DAMAGED;
    for (int i = position; i < count; i++) moveControl(props, stem, i + 1, i);
  }
  props.remove(numberedKey(stem, count).c_str());
  if (count - 1 > 0) {
    props.setProperty(countKey.c_str(), count - 1);
  } else {
    props.remove(countKey.c_str());
  }
  return position;
}

std::string ZEPACMD_actionCommand::buildControlValue(const Field* fields) {
  return text(fields[F_PORT]) + ";" + text(fields[F_OP]) + ";" + text(fields[F_CLIENT]) + ";" +
         text(fields[F_LEVEL]);
}

std::string ZEPACMD_actionCommand::buildDCKey(const char* server, int serverLength,
                                              const char* envCode, int envCodeLength,
                                              const char* suffix) {
  if (serverLength < 0)
    serverLength = server != nullptr ? static_cast<int>(std::strlen(server)) : 0;
  if (envCodeLength < 0)
    envCodeLength = envCode != nullptr ? static_cast<int>(std::strlen(envCode)) : 0;
  std::string key;
  if (envCodeLength > 0) key.append(envCode, envCodeLength);
  key += '.';
  if (serverLength > 0) key.append(server, serverLength);
  if (suffix != nullptr) key += suffix;
  return key;
}
