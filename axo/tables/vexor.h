// Tables of the agent framework: table managers, table samplers and the
// request information a sampler reads.
//
// An agent publishes a table by deriving a manager from TableManager and
// registering it (TableManager::RegisterWithManager). For every request on
// the table (a query, a history collection, a situation) the framework asks
// the manager for a sampler (CreateVexor), calls the sampler's TakeSample,
// reads the rows the sampler inserted into its row buffer through the
// column descriptions (GetColumnInfo), and destroys the sampler when the
// request ends: at once for a query, when the situation is deleted for a
// situation.
//
// Rows are fixed-size records. Column type 9 is blank-padded text without a
// terminator, 5 a 16-bit and 3 a 32-bit signed integer in host byte order.
//
// Filters: a request carries filter terms (FQX1_FILTERINFO). CheckForException
// evaluates them for one row: terms joined by AND, and a term whose logical
// operator is FQX1_OR starts a new alternative (AND binds tighter than OR).
// For each term it calls the table's ColumnIsException with the term's value
// as text, which picks the column and calls IsException of its type.
//
// Events: rows pushed by the agent are offered to the samplers of the
// table's long-lived requests (the manager's vexor list) under the manager
// lock: UseHandle, AddData, Dispatch, count = 0, RKL1_Drop. Dispatch only
// records; it never calls into the agent.
#ifndef AXO_TABLES_VEXOR_H_
#define AXO_TABLES_VEXOR_H_

#include <cstddef>
#include <ctime>
#include <deque>
#include <string>
#include <vector>

#include "axo/base/osb1.h"

class vexor;
class TableManager;
struct AXO_SituationState;

// --- status codes -----------------------------------------------------------

enum : unsigned int {
  AXO_RC_OK = 0,
  AXO_RC_BAD_ARGUMENT = 0x21060001,  // null or malformed argument
  AXO_RC_NO_MEMORY = 0x21060004,     // the row buffer cannot grow
  AXO_RC_BUFFER_FULL = 0x21060005,   // the row buffer reached its limit
  AXO_RC_INJECTED = 0x21060006,      // default code of an injected failure
  AXO_RC_BAD_COLUMN = 0x21060007,    // GetColumnInfo: no column of that index
  // TakeSample: the agent's data stayed locked longer than the calling
  // thread's wait limit (OSB1_WaitLimit); nothing was sampled. A caller
  // answers "unavailable" or tries again at its next interval.
  AXO_RC_BUSY = 0x21060008,
};

// Most rows one sampler may hold; InsertRow fails beyond it.
enum : int { AXO_MAX_ROWS = 4000000 };

// --- columns ------------------------------------------------------------------

enum : unsigned short {
  COLUMN_TYPE_LONG = 3,   // 32-bit signed integer
  COLUMN_TYPE_SHORT = 5,  // 16-bit signed integer
  COLUMN_TYPE_TEXT = 9,   // blank-padded text, no terminator
};

// Description of one column, filled by the table's GetColumnInfo.
struct ColumnInfo {
  const char* name;       // lower-case column name, lives as long as the program
  unsigned short offset;  // byte offset in the row record
  unsigned short width;   // bytes
  unsigned short type;    // COLUMN_TYPE_*
};

// --- filter terms --------------------------------------------------------

// Compare operators.
enum _IntfOper : short {
  FQX1_GE = 3,   // greater or equal
  FQX1_LE = 4,   // less or equal
  FQX1_LT = 5,   // less than
  FQX1_GT = 6,   // greater than
  FQX1_EQ = 10,  // equal
  FQX1_NE = 11,  // not equal
};

// Logical operators: how a term joins the terms before it.
enum : short {
  FQX1_AND = 0,
  FQX1_OR = 1,
};

// Data types of term values.
enum : int {
  FQX1_CHAR = 452,     // fixed-length characters, valueLen bytes
  FQX1_LONG = 456,     // long: 4 or 8 bytes
  FQX1_CSTRING = 460,  // text of valueLen bytes (terminated as well)
  FQX1_INTEGER = 496,  // 32-bit integer, 4 bytes
  FQX1_SMALL = 500,    // 16-bit integer, 2 bytes
};

// GetFilterInfo's result after the last term.
enum : int { FQX1_NO_MORE_TERMS = 63 };

// One filter term. The value bytes are followed by a terminator that
// valueLen does not count. Valid for the life of the request.
struct FQX1_FILTERINFO {
  short logicalOper;    // FQX1_AND or FQX1_OR
  short compareOper;    // _IntfOper
  char columnName[33];  // upper-case attribute name, terminated
  int dataType;         // FQX1_* data type
  short valueLen;       // bytes at value
  const char* value;
};

// --- requests ---------------------------------------------------------------

// Sample type of a situation request.
enum : int { AXO_SAMPLE_SITUATION = 4 };

// What one request asks for. Built by the framework; a sampler reads it
// through its vexor accessors. Not thread-safe: the framework changes it
// (the subnodes of a situation before each of its samples) only while no
// call into the sampler runs.
struct RequestDetail {
  RequestDetail();
  RequestDetail(const RequestDetail&) = delete;
  RequestDetail& operator=(const RequestDetail&) = delete;

  // Appends a term; copies `len` bytes of `value` and terminates them.
  // Returns AXO_RC_OK, or AXO_RC_BAD_ARGUMENT (nothing appended) for a null
  // or too long column name, an unknown data type or compare operator, a
  // length that does not fit the data type (2 for FQX1_SMALL, 4 for
  // FQX1_INTEGER, 4 or 8 for FQX1_LONG, at most 32767 for text), or a null
  // value with len > 0.
  unsigned int AddFilterTerm(short logical_oper, short compare_oper, const char* column,
                             int data_type, const void* value, int len);

  char application[16];
  char table[16];
  int sampleType;          // AXO_SAMPLE_SITUATION marks a situation
  char situationName[33];  // terminated
  char secondName[33];     // empty for ordinary requests
  int interval;            // sampling interval in seconds
  bool history;            // historical data collection
  std::vector<std::string> subnodes;
  std::deque<FQX1_FILTERINFO> terms;   // deque: term addresses stay valid
  std::deque<std::string> termValues;  // the value bytes of each term
  std::deque<std::string> termTexts;   // each value as ColumnIsException gets it
};

// Who issued the request.
struct ContextInfo {
  unsigned long requestId = 0;
  time_t created = 0;
};

// --- the framework's list of samplers ------------------------------------------

// An ordered list of samplers. Not thread-safe: the manager's list is
// guarded by the manager lock.
class LinkedList {
 public:
  LinkedList() = default;
  LinkedList(const LinkedList&) = delete;
  LinkedList& operator=(const LinkedList&) = delete;

  void Append(vexor* item);
  // Returns true when `item` was in the list.
  bool Remove(vexor* item);
  int Count() const { return static_cast<int>(items_.size()); }

 private:
  friend class LinkedListIter;
  std::vector<vexor*> items_;
};

// Walks a LinkedList front to back. The list must not change meanwhile.
class LinkedListIter {
 public:
  explicit LinkedListIter(LinkedList* list) : list_(list) {}
  // The next sampler, or null at the end.
  vexor* Next();

 private:
  LinkedList* list_;
  size_t next_ = 0;
};

// --- action commands ------------------------------------------------------------

// One take-action command: a three-character prefix, then the command text;
// a 32-bit result and an optional message for the user. The capsule always
// names a sampler that is told when the command is finished (a framework
// sampler when the command came without one).
class VexorAutomationCapsule {
 public:
  // `text` may be null. `sampler` may be null.
  VexorAutomationCapsule(const char* text, vexor* sampler);
  VexorAutomationCapsule(const VexorAutomationCapsule&) = delete;
  VexorAutomationCapsule& operator=(const VexorAutomationCapsule&) = delete;

  // The whole text, prefix included; never null and at least three
  // characters long (a shorter text is padded with blanks), so text + 3 is
  // always the command.
  const char* GetText() const { return text_.c_str(); }
  // The command after the prefix ("" when the text was null or short).
  const char* GetCommand() const { return text_.c_str() + 3; }

  void SetResult(long result) {
    result_ = static_cast<int>(result);
    result_set_ = true;
  }
  int GetResult() const { return result_; }
  bool HasResult() const { return result_set_; }

  // Copies `message` (null clears it).
  void SetMessage(const char* message);
  const std::string& GetMessage() const { return message_; }

  // The sampler to tell when the command is finished; never null.
  vexor* GetVexor() const;
  bool IsFinished() const { return finished_; }

 private:
  friend class vexor;
  std::string text_;
  vexor* sampler_;
  int result_ = 0;
  bool result_set_ = false;
  bool finished_ = false;
  std::string message_;
};

// --- samplers -----------------------------------------------------------------

// Base class of every table sampler. One sampler serves one request.
// A sampler is used by one thread at a time; the framework serialises its
// own calls, and event pushes reach it only under the manager lock.
class vexor {
 public:
  // `request` and `context` must outlive the sampler. `manager` may be null
  // (framework-internal samplers). `row_size` is the size of one row record,
  // `alloc_size` the number of rows the buffer grows by at least.
  vexor(RequestDetail* request, ContextInfo* context, TableManager* manager, int row_size,
        int alloc_size);
  vexor(const vexor&) = delete;
  vexor& operator=(const vexor&) = delete;

  // Virtual slots, in this order.
  virtual void PrintSelf();
  // Returns AXO_RC_OK, AXO_RC_BUSY, or another failure code.
  virtual unsigned int TakeSample() = 0;
  virtual int NumColumns();
  // Fills `info` for column `index`; AXO_RC_BAD_COLUMN outside the columns.
  virtual unsigned int GetColumnInfo(ColumnInfo* info, int index);
  // Runs an action command addressed to this sampler through the registered
  // command callback; returns its result.
  virtual unsigned int ExecuteCommand(VexorAutomationCapsule* capsule);
  virtual ~vexor();
  // Copies one row record into the buffer, growing it when full. Returns 0,
  // or AXO_RC_NO_MEMORY / AXO_RC_BUFFER_FULL (or an injected code).
  virtual unsigned int InsertRow(const void* row);
  // Non-zero when `row` passes the request's filter terms (a request without
  // terms passes every row).
  virtual int CheckForException(const void* row);
  // Compares one column of `row` with `value` (the term's value as text).
  // The table overrides it; the framework's own returns 0.
  virtual unsigned int ColumnIsException(const void* row, const char* attribute, _IntfOper oper,
                                         const char* value);
  // Called when an action command addressed to this sampler has finished.
  virtual void CommandCompleted(VexorAutomationCapsule* capsule);

  // Comparisons: non-zero when `value` meets `oper` against `threshold`
  // (integers: `threshold` is decimal text; a malformed one never matches).
  // Text: the `length` bytes at `value` without their trailing blanks are
  // compared byte-wise with `threshold` as given.
  unsigned int IsException(_IntfOper oper, short value, const char* threshold);
  unsigned int IsException(_IntfOper oper, int value, const char* threshold);
  unsigned int IsException(_IntfOper oper, long value, const char* threshold);
  unsigned int IsException(_IntfOper oper, const char* value, const char* threshold, int length);

  // Request information.
  // The next requested subnode name, or null after the last.
  const char* GetSubnode();
  void ResetGetSubnode();
  int IsHistoryRequest();
  // Sets `*info` to the next filter term and returns 0; returns
  // FQX1_NO_MORE_TERMS (63) after the last term and starts again from the
  // first with the following call.
  int GetFilterInfo(FQX1_FILTERINFO** info);
  // Writes the request's terms to the trace (detail level).
  void DumpThresholds();
  int GetSampleType() const;
  const char* GetSituationName() const;
  const char* GetSecondName() const;
  int GetSampleInterval() const;
  const char* GetApplication() const;
  const char* GetTable() const;
  RequestDetail* GetRequestDetail() const { return request_; }
  ContextInfo* GetContextInfo() const { return context_; }
  TableManager* GetManager() const { return manager_; }

  // Events. UseHandle pins the sampler with handle `h`: 0 when pinned,
  // non-zero when `h` is not this sampler's handle or it is being destroyed
  // (the caller then skips it). RKL1_Drop releases the pin.
  int UseHandle(unsigned int h);
  unsigned int GetHandle() const { return handle; }
  // Records the rows the sampler received since the last Dispatch. For a
  // situation sampler this decides the situation's state (see request.h).
  // Returns 0.
  unsigned int Dispatch();

  // Marks `capsule` finished and calls CommandCompleted.
  void FinishedAutomationCommand(VexorAutomationCapsule* capsule);

  // The row buffer.
  const char* GetRow(int index) const;  // null outside 0 .. count-1
  int GetRowSize() const { return rowSize_; }
  void ClearRows() { count = 0; }
  // Empties the buffer and gives its memory back: a long-lived sampler that
  // samples now and then (a situation's) holds no rows between samples.
  void ReleaseRows();

  // Framework words of the base object (PrintSelf shows both).
  unsigned int flags;   // AXO_VEXOR_* bits
  unsigned int handle;  // this sampler's handle
  int count;            // rows in the buffer
  int allocated;        // rows the buffer can hold
  int allocSize;        // growth step in rows
  char* data;           // the buffer: `allocated` records of GetRowSize() bytes

  // A table's creation hook refuses a request it cannot serve (a situation
  // whose conditions its table cannot evaluate) with a reason; the framework
  // then destroys the sampler and answers whoever asked with that reason.
  void RefuseRequest(const std::string& reason) { refusal_ = reason; }
  const std::string& GetRefusal() const { return refusal_; }

  // Framework-internal: state of the situation this sampler serves.
  void AttachSituation(AXO_SituationState* state) { situation_ = state; }
  AXO_SituationState* GetSituation() const { return situation_; }

 private:
  RequestDetail* request_;
  ContextInfo* context_;
  TableManager* manager_;
  int rowSize_;
  size_t nextSubnode_ = 0;
  size_t nextTerm_ = 0;
  AXO_SituationState* situation_ = nullptr;
  std::string refusal_;  // empty unless the creation hook refused the request
};

enum : unsigned int {
  AXO_VEXOR_DESTROYING = 1,  // the sampler is being destroyed
};

// Releases the pin taken with vexor::UseHandle. Returns 0, or non-zero for an
// unknown or unpinned handle.
int RKL1_Drop(unsigned int handle);

// Makes the `nth` InsertRow call from now on (1 = the next) fail with `rc`
// (AXO_RC_INJECTED when 0); nth 0 cancels. One failure per setting.
void AXO_FailInsertRowForTesting(int nth, unsigned int rc);

// --- managers -----------------------------------------------------------------

// One table of an application. Owns the lock and the list of the samplers
// of the table's long-lived requests (situations); query samplers are not
// listed. The framework never deletes a manager.
class TableManager {
 public:
  // Copies the names (application at most 15, table at most 15 characters);
  // GetStatus() is non-zero when a name is null or too long.
  TableManager(const char* application, const char* table);
  TableManager(const TableManager&) = delete;
  TableManager& operator=(const TableManager&) = delete;

  virtual ~TableManager();
  virtual void Shutdown();
  // Creates the sampler of one request; null when it cannot.
  virtual vexor* CreateVexor(RequestDetail* request, ContextInfo* context) = 0;

  // Makes `manager` the table's manager for new requests. Returns 0, or
  // AXO_RC_BAD_ARGUMENT for a null manager or one with a bad status.
  // Registering a second manager under the same table name replaces the
  // first (which its owner keeps).
  static unsigned int RegisterWithManager(TableManager* manager);

  const char* GetApplication() const { return application_; }
  const char* GetTable() const { return table_; }
  unsigned int GetStatus() const { return status_; }

  // The manager lock: guards the vexor list. Held by the framework only for
  // list changes; the agent holds it while pushing event rows.
  OSB1_Lock* GetLock() { return &lock_; }
  // The live samplers of long-lived requests. Use only under GetLock().
  LinkedList* GetVexorList() { return &vexors_; }

 private:
  char application_[16];
  char table_[16];
  unsigned int status_;
  OSB1_Lock lock_;
  LinkedList vexors_;
};

// The manager registered for `table`, or null.
TableManager* AXO_FindTableManager(const char* table);
// The names of the registered tables in registration order.
std::vector<std::string> AXO_ListTables();

// How the history collector keeps a table's rows, as the agent that owns
// the table declares it. The framework knows no table of its own accord.
struct TableHistory {
  bool collectByDefault = false;  // collected when no table list is given
  // Rows keyed by their content, so that a row delivered twice is stored
  // once: by `keyColumns`, or by every column when that is empty.
  bool keyed = false;
  std::vector<std::string> keyColumns;  // upper-case attribute names
  std::string timeColumn;               // the row's own time; empty: WRITETIME
};
// Declares the history of the registered table `table`; a later call
// replaces it. Returns AXO_RC_OK, or AXO_RC_BAD_ARGUMENT when no table of
// that name is registered. Thread-safe.
unsigned int AXO_DeclareHistory(const char* table, const TableHistory& history);
// What was declared for `table`; a default TableHistory when nothing was.
// Thread-safe.
TableHistory AXO_TableHistory(const std::string& table);

// The action-command callback that vexor::ExecuteCommand and the request
// API call (AXO_RegisterCommandCallback in axo/process/axo.h stores it).
typedef long (*AXO_CommandCallback)(VexorAutomationCapsule* capsule);

namespace axo_internal {
// Stores the callback (null: none). Thread-safe.
void SetCommandCallback(AXO_CommandCallback callback);
// The stored callback, or null. Thread-safe.
AXO_CommandCallback CommandCallback();
}  // namespace axo_internal

#endif  // AXO_TABLES_VEXOR_H_
