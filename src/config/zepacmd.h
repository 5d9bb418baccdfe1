// Action commands: operators' edits of the data-collector configuration.
//
// The framework delivers a take-action command text (through
// ZEP_CommandHandler); ZEPACMD_actionCommand::handleAction parses it,
// validates every field, edits the configuration properties and saves the
// file, which the data collectors then pick up. A command text is a command
// name and up to eight fields separated by ";", for example
//   addMonitorControl;server1;Granite_Application_Server;host1;OrderPort;submitOrder;Full
// plus the two raw forms "getKeyVal <key>" and "setKeyVal <key>=<value>".
//
// Every command answers one of three codes: RC_SUCCESS (the file was changed
// and saved), RC_NO_CHANGE (nothing needed changing; nothing is saved) or
// RC_ERROR (rejected, or the file could not be read or written). A rejected
// command leaves the file byte for byte as it was. Diagnostics are trace
// records only (error records for the ZEPAC messages).
//
// The same class keeps the numbered control lists of a data collector in
// priority order ("<env>.<server>.monitor.control.<i>" with its ".count" key,
// and the same for ".filter.control"): it finds where a new control belongs,
// shifts the numbered keys to open or close a gap, rewrites the count, and
// detects duplicates and damaged lists. Those operations change only the
// in-memory properties; handleAction saves after success.
//
// Thread-safety: the object has no state. The caller holds
// configPropertiesLock around handleAction (the command handler and the test
// console do); nothing here takes a lock.
#ifndef ZEP_CONFIG_ZEPACMD_H_
#define ZEP_CONFIG_ZEPACMD_H_

#include <string>

#include "foundation/zepstrut.h"

class ZEPPROPS_properties;

class ZEPACMD_actionCommand {
 public:
  using Field = ZEPSTRUT_stringUtil::STRING_PARSE_INFO;
  using StrMap = ZEPSTRUT_stringUtil::ENUM_STR_MAP;

  // Result codes of handleAction.
  static constexpr int RC_SUCCESS = 0;
  static constexpr int RC_NO_CHANGE = 1;
  static constexpr int RC_ERROR = 2;

  // Result codes of the control list positions (besides positions >= 1).
  static constexpr int POS_NOT_FOUND = -1;
  static constexpr int POS_DUPLICATE = -2;
  static constexpr int POS_DAMAGED = -3;

  // A command has at most this many fields, the name included.
  static constexpr int MAX_FIELDS = 9;
  // Longest server, host, port, operation or client field.
  static constexpr int MAX_NAME_LENGTH = 64;

  // Header line written at the top of the configuration file by every save.
  static constexpr const char* CONFIG_FILE_HEADER = "ZEPAC0003I Data collector configuration file";

  // Accepted words and the words stored in their place.
  static const StrMap ENV_STR_MAP[9];
  static const StrMap LOGLVL_STR_MAP[3];
  static const StrMap TRACE_STR_MAP[2];
  static const StrMap MONLVL_STR_MAP[4];

  ZEPACMD_actionCommand() = default;
  virtual ~ZEPACMD_actionCommand() = default;
  ZEPACMD_actionCommand(const ZEPACMD_actionCommand&) = delete;
  ZEPACMD_actionCommand& operator=(const ZEPACMD_actionCommand&) = delete;

  // Executes `command` against `props`, whose file name must be set: reloads
  // the file, applies the command and, on RC_SUCCESS, saves the file with
  // CONFIG_FILE_HEADER. `msgBuf` (of `msgBufSize` bytes; may be null when
  // the size is 0) receives the answer of getKeyVal and is otherwise left
  // empty; it is never written past its size. When the save fails the
  // result is RC_ERROR and `props` is read back from the unchanged file.
  // Requires: the caller holds configPropertiesLock when `props` is shared.
  int handleAction(const char* command, ZEPPROPS_properties& props, char* msgBuf, int msgBufSize);

  // --- control list editing ---------------------------------------------
  //
  // `fields` are a command's fields: 0 the canonical command name (selects
  // the list: "addMonitorControl"/"deleteMonitorControl" the monitor list,
  // anything else the filter list), 1 server, 2 environment code, 4 port,
  // 5 operation, 6 client, 7 level or action. A control's identity is its
  // port, operation and client, compared exactly (case-sensitive).

  // Position (1..count+1) at which the control of `fields` belongs, after
  // every stored control of equal or higher priority. POS_DUPLICATE when a
  // stored control has the same identity (then, in `update` mode, its
  // number is stored in *foundIndex when foundIndex is not null; otherwise
  // a ZEPAC0010E message names it). POS_DAMAGED (with a ZEPAC0010E message)
  // when the count is not a number or negative, a numbered key is missing,
  // or a stored value has not four fields. The whole list is checked before
  // a position is chosen.
  int findInsertPosition(Field* fields, ZEPPROPS_properties& props, bool update, int* foundIndex);

  // True when the stored control `existingFields` (its four fields) ranks
  // below the new control of the command `newFields` (fields 4, 5, 6).
  // Monitor ranks grow with specificity (specific port and operation 3,
  // specific port 2, any port 1); filter ranks fall with it (1..6, a
  // specific client before any client).
  static bool isLowerMonitorPriority(const Field* newFields, const Field* existingFields);
  static bool isLowerFilterPriority(const Field* newFields, const Field* existingFields);

  // Stores the control of `fields` as number `position` (1..count+1),
  // moving the controls from `position` on one number up, and raises the
  // count. Returns `position`, or POS_DAMAGED with nothing changed when a
  // key to be moved is missing.
  int insertAtPosition(Field* fields, ZEPPROPS_properties& props, int position);

  // Number of the stored control with the identity of `fields`,
  // POS_NOT_FOUND (also for an absent or zero count), or POS_DAMAGED.
  int findDeletePosition(Field* fields, ZEPPROPS_properties& props);

  // Removes control `position`, moving the later ones one number down;
  // removes the count key when the list becomes empty. Returns `position`,
  // or POS_DAMAGED with nothing changed.
  int deleteAtPosition(Field* fields, ZEPPROPS_properties& props, int position);

  // Fields 4, 5, 6 and 7 joined by ";".
  static std::string buildControlValue(const Field* fields);

  // envCode + "." + server + suffix; a negative length means the
  // NUL-terminated length.
  static std::string buildDCKey(const char* server, int serverLength, const char* envCode,
                                int envCodeLength, const char* suffix);

 private:
  // The count key, "<env>.<server>.monitor.control" or ".filter.control"
  // stem of the list that `fields` address.
  static std::string controlStem(const Field* fields, bool monitorList);
};

#endif  // ZEP_CONFIG_ZEPACMD_H_
