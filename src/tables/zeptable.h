// The table pattern: how the agent publishes a monitoring table to the
// framework.
//
// Every table is described once, by its column list and row record in
// foundation/zeprows.h.
//
// The classes that the framework sees (manager, base, agent) are generated
// from the same description by the templates below; a table's own module
// adds only its agent class with TakeSample and the two hooks.
#ifndef ZEP_TABLES_ZEPTABLE_H_
#define ZEP_TABLES_ZEPTABLE_H_

#include <cstddef>
#include <cstdint>
#include <new>

#include "axo/base/trk1.h"
#include "axo/tables/vexor.h"
#include "foundation/zeprows.h"

// --- the table classes ---------------------------------------------------------

// Status codes of the pattern.
enum : unsigned int {
  ZEPTABLE_RC_NO_MANAGER = 0x21060002,  // the manager could not be created
  ZEPTABLE_RC_BAD_COLUMN = 0x21060007,  // column index outside the table
};

// The static description of one table. Defined by the table's module.
struct ZEPTABLE_description {
  const char* application;  // "ZEP"
  const char* table;        // "ZEPSMT", ...
  const char* baseName;     // "zep_zepsmt_base": first line of PrintSelf
  const char* initName;     // "zep_zepsmt_init": its trace events
  const ZEPROWS_column* columns;
  int numColumns;
  int rowSize;      // bytes per row record
  int allocSize;    // rows by which the framework's row buffer grows
  TRK1_Unit* unit;  // the table module's trace unit
};

// The part of every table sampler that depends only on the description:
// column descriptions, filter comparison, row dump and row hand-over.
// Thread-safety: as vexor (one thread at a time).
class ZEPTABLE_sampler : public vexor {
 public:
  ZEPTABLE_sampler(RequestDetail* request, ContextInfo* context, TableManager* manager,
                   const ZEPTABLE_description& description);

  // Traces the object and its rows at trace bit 16.
  void PrintSelf() override;
  int NumColumns() override;
  // Fills `info` for column `index` and returns 0; returns
  // ZEPTABLE_RC_BAD_COLUMN and leaves `info` untouched outside the columns.
  unsigned int GetColumnInfo(ColumnInfo* info, int index) override;
  // Compares the column whose upper-case attribute name is `attribute`
  // (exact, case-sensitive) with `value` through IsException of its type.
  // Returns 0 for an attribute the table does not have.
  unsigned int ColumnIsException(const void* row, const char* attribute, _IntfOper oper,
                                 const char* value) override;

  // Offers `n` row records at `rows` (rowSize bytes each) to the request:
  // each row that passes the request's filter is inserted. Stops at the
  // first failing InsertRow and returns its status; 0 otherwise.
  unsigned int AddRows(const void* rows, int n);

  const ZEPTABLE_description& description() const { return description_; }

 private:
  void PrintRow(const char* row);

  const ZEPTABLE_description& description_;
};

// The base class of a table's agent class: the sampler of one table, with
// AddData typed on the table's row record.
template <class Row, const ZEPTABLE_description& kDescription>
class ZEPTABLE_base : public ZEPTABLE_sampler {
 public:
  using RowType = Row;

  ZEPTABLE_base(RequestDetail* request, ContextInfo* context, TableManager* manager)
      : ZEPTABLE_sampler(request, context, manager, kDescription) {}

  // Hands `n` rows to the request; see AddRows.
  unsigned int AddData(const Row* rows, int n) { return AddRows(rows, n); }

  // The creation and destruction hooks of a table that keeps nothing per
  // request: they trace entry and exit only. A table with state hides them.
  void TakeSampleConstructor() { TRK1_FlowScope flow(kDescription.unit, "TakeSampleConstructor"); }
  void TakeSampleDestructor() { TRK1_FlowScope flow(kDescription.unit, "TakeSampleDestructor"); }

  static const ZEPTABLE_description& Description() { return kDescription; }
};

// What is common to every table's manager: pushing event rows to the live
// samplers of long-lived requests.
// Thread-safety: AddRowsToEvent may be called from any thread; it takes the
// manager lock and therefore must not be called while holding a lock that a
// sampler's hooks take after the manager lock.
class ZEPTABLE_managerBase : public TableManager {
 public:
  explicit ZEPTABLE_managerBase(const ZEPTABLE_description& description);

  // Under the manager lock, for every live sampler in list order: pin it,
  // AddRows(rows, n), Dispatch, empty its row buffer, release it. Samplers
  // being destroyed are skipped. Returns the last non-zero Dispatch status,
  // or 0.
  unsigned int AddRowsToEvent(const void* rows, int n);

  const ZEPTABLE_description& description() const { return description_; }

 private:
  const ZEPTABLE_description& description_;
};

// The object the framework owns for one request: the table's agent class,
// with the agent's creation and destruction hooks run around its life.
template <class Agent>
class ZEPTABLE_object final : public Agent {
 public:
  ZEPTABLE_object(RequestDetail* request, ContextInfo* context, TableManager* manager)
      : Agent(request, context, manager) {
    this->TakeSampleConstructor();
  }
  ~ZEPTABLE_object() override { this->TakeSampleDestructor(); }
};

// The manager of one table. `Agent` derives from ZEPTABLE_base<Row, ...>
// and provides TakeSampleConstructor, TakeSampleDestructor and TakeSample;
// it may still be incomplete where the manager type is named.
// Thread-safety: CreateVexor and the event pushes may run on any thread.
template <class Agent, class Row>
class ZEPTABLE_manager : public ZEPTABLE_managerBase {
 public:
  ZEPTABLE_manager() : ZEPTABLE_managerBase(Agent::Description()) {}

  // Creates the table object of one request and runs its creation hook.
  // The framework owns the result; deleting it runs the destruction hook.
  vexor* CreateVexor(RequestDetail* request, ContextInfo* context) override {
    TRK1_FlowScope flow(description().unit, "CreateVexor");
    return new (std::nothrow) ZEPTABLE_object<Agent>(request, context, this);
  }

  // Pushes `n` event rows to the table's live samplers; see AddRowsToEvent.
  unsigned int AddDataToEvent(const Row* rows, int n) { return AddRowsToEvent(rows, n); }

  // Pushes rows through the table's manager; 0 and nothing pushed while the
  // table is not initialised.
  static unsigned int EventArrived(const Row* rows, int n) {
    ZEPTABLE_manager* manager = staticManager;
    return manager != nullptr ? manager->AddDataToEvent(rows, n) : 0;
  }

  // Creates the table's one manager (a second call keeps the first one) and
  // registers it with the framework. Returns the framework's status, or
  // ZEPTABLE_RC_NO_MANAGER when the manager cannot be created.
  static unsigned int Init() {
    const ZEPTABLE_description& d = Agent::Description();
    TRK1_FlowScope flow(d.unit, d.initName);
    if (staticManager == nullptr) staticManager = new (std::nothrow) ZEPTABLE_manager();
    const unsigned int rc = staticManager == nullptr
                                ? ZEPTABLE_RC_NO_MANAGER
                                : TableManager::RegisterWithManager(staticManager);
    return flow.exitWith(rc);
  }

  // The table's one manager, null until Init has run. Never deleted.
  inline static ZEPTABLE_manager* staticManager = nullptr;
};

// Declares the pieces of table `t` (e.g. zepsmt) around its row record
// zep_<t>_data_t: the static names, the description (defined by the table's
// module with ZEPTABLE_DEFINE_DESCRIPTION), the base and manager classes,
// the static manager and the init function. The module then declares its
// agent class zep_<t>_agent, derived from zep_<t>_base.
#define ZEPTABLE_DECLARE_TABLE(t, table_name)                                             \
  inline constexpr char zep_##t##_application[] = "ZEP";                                  \
  inline constexpr char zep_##t##_table[] = table_name;                                   \
  extern const ZEPTABLE_description zep_##t##_description;                                \
  class zep_##t##_agent;                                                                  \
  using zep_##t##_base = ZEPTABLE_base<zep_##t##_data_t, zep_##t##_description>;          \
  using zep_##t##_manager = ZEPTABLE_manager<zep_##t##_agent, zep_##t##_data_t>;          \
  inline zep_##t##_manager*& zep_##t##_static_manager = zep_##t##_manager::staticManager; \
  extern const char zep_##t##_version[];                                                  \
  unsigned int zep_##t##_init()

// Defines, in the table's module, the description of table `t` with trace
// unit `unit` and row-buffer growth `alloc_size`.
#define ZEPTABLE_DEFINE_DESCRIPTION(t, unit, alloc_size)                                          \
  const ZEPTABLE_description zep_##t##_description = {zep_##t##_application,                      \
                                                      zep_##t##_table,                            \
                                                      "zep_" #t "_base",                          \
                                                      "zep_" #t "_init",                          \
                                                      zep_##t##_data_t_columns,                   \
                                                      zep_##t##_data_t_numColumns,                \
                                                      static_cast<int>(sizeof(zep_##t##_data_t)), \
                                                      (alloc_size),                               \
                                                      &(unit)};                                   \
  extern const char zep_##t##_version[] = "zep_" #t " table module 1.0"

// Defines the init function of table `t` that only creates and registers
// its manager. A table whose init does more writes its own.
#define ZEPTABLE_DEFINE_INIT(t) \
  unsigned int zep_##t##_init() { return zep_##t##_manager::Init(); }

#endif  // ZEP_TABLES_ZEPTABLE_H_
