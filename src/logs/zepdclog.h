// Metric log file: the state of one monitored application server.
//
// Data collectors write one record line per observed message into metric log
// files ("ZEP.<anything>.metric.log") in the log directory. Header lines
// ("#ZEP.servername=...", ...) describe the server; record lines hold 16
// fields separated by ";". The agent moves each file into the cache
// subdirectory (renameLogToTmpName), reads its header to build the server's
// 32-character subnode name (readLogForSubnodeName), then reads its records
// (readCachedLog), each of which becomes a ZEPMELEM_MetricLine kept newest
// first and is handed to the record sinks the runtime attached
// (logs/zepsink.h: situations, inventory, metrics, windows, in that order).
//
// One ZEPDCLOG_DCMetricsLogFile exists per server (per subnode name); all
// files of one server feed the same object over time.
//
// Ownership: the object owns its metric lines and its service inventory.
// The metric log list owns the objects.
//
// Thread-safety: none of its own; every operation runs under
// metricsLogListLock (the dispatcher thread or a sampling thread).
#ifndef ZEP_LOGS_ZEPDCLOG_H_
#define ZEP_LOGS_ZEPDCLOG_H_

#include <cstddef>
#include <cstdint>

#include "foundation/zeplelem.h"
#include "foundation/zepllst.h"
#include "foundation/zepport.h"
#include "logs/zepmelem.h"
#include "logs/zepnvlst.h"

class ZEPDCLOG_DCMetricsLogFile : public ZEPLELEM_listElem {
 public:
  static constexpr int PATH_SIZE = 260;   // path buffers: 259 characters
  static constexpr int LINE_SIZE = 2048;  // line buffers: 2047 characters
  static constexpr int SUBNODE_NAME_LEN = 32;
  static constexpr int NUM_FIELDS = 16;          // fields of a record line
  static constexpr int MAX_SUBNODE_BUDGET = 19;  // host + server characters
  // How many lines ahead of the oldest deleteOldestMetric fetches into the
  // processor's cache: the whole line when its storage serves the next new
  // line (one deletion per record read), its links in a bulk deletion.
  static constexpr int DELETE_LOOK_AHEAD = 4;
  static constexpr int BULK_DELETE_LOOK_AHEAD = 16;
  static constexpr const char* CACHE_SUBDIR = "ZEP.DCA.CACHE";

  // A server object for file `filename` of log `directory`: every text field
  // zero-filled, path fields set (see setMetricsLogFilename), no lines,
  // environment value 0, not registered.
  ZEPDCLOG_DCMetricsLogFile(const char* directory, const char* filename);
  // Tells the record sinks that the server goes when it handed them records
  // (an object that only read a file's header, to find its server, leaves
  // the server's series alone). Requires: metricsLogListLock.
  ~ZEPDCLOG_DCMetricsLogFile() override;

  ZEPDCLOG_DCMetricsLogFile(const ZEPDCLOG_DCMetricsLogFile&) = delete;
  ZEPDCLOG_DCMetricsLogFile& operator=(const ZEPDCLOG_DCMetricsLogFile&) = delete;

  // The key is the file name (default string comparison).
  const void* getElemKey() const override { return filename_; }

  // Makes sure `path` is a directory the agent may write into: creates it
  // when missing; refuses a symbolic link, and a directory of another user
  // unless the agent runs as root (ZEP00107E with the cause). Returns 0 or -1.
  static int ensureSafeDirectory(const char* path);

  // True when `name` begins with "ZEP." and ends with ".metric.log".
  static bool isAMetricLogFilename(const char* name);

  const char* getMetricsLogFilename() const { return filename_; }
  // Sets directory, file name, live path and cache directory. Returns 0, or
  // -1 (with a message) when a path would exceed 259 characters; the paths
  // are then empty and renameLogToTmpName fails.
  int setMetricsLogFilename(const char* directory, const char* filename);

  // Moves the live file into the cache directory under
  // "<file name>.<UTC time stamp>-CA" and leaves that path in `cachedPath`
  // (PATH_SIZE bytes). One attempt: a file that cannot be moved stays where
  // it is and is taken at a later pass. Refuses an existing target, a cache
  // directory that ensureSafeDirectory refuses, and paths over 259
  // characters. Returns 0, or -1 with ZEP00103E.
  int renameLogToTmpName(char* cachedPath);

  // Opens the cached file and reads its header up to the first record line,
  // which stays in `line` (LINE_SIZE bytes; empty when there is none).
  // Returns 0 with the file open in *file when the server is accepted (server
  // name set, environment value 1 or more; the subnode name is generated),
  // else -1 with the file closed.
  int readLogForSubnodeName(const char* cachedPath, ZEP_FILE* file, char* line);

  // Reads the records of the open file (first the one left in `line`) and
  // closes it, each line through processLine. Keeps at most
  // `maxMetricsRecords` lines and `maxSvcInvRecords` buckets. Attaches
  // `cachedPath` to the newest bucket the file fed (to the archive when that
  // bucket expired meanwhile). Returns 0 when the server is accepted, else -1.
  int readCachedLog(const char* cachedPath, int maxMetricsRecords, int maxSvcInvRecords,
                    ZEP_FILE* file, char* line);

  // The newest window a file fed, as its service entry and window begin:
  // both stay valid when the limits expire the bucket itself.
  struct NewestWindow {
    ZEPIELEM_SvcInv* entry = nullptr;
    int32_t begin = 0;
  };

  // Handles one line of the metric log file at `cachedPath`: a header line, or a record that
  // becomes a metric line, handed to the record sinks (logs/zepsink.h). Then applies the two
  // limits. When `newest` is given and the
  // record's window is newer than *newest, or *newest is empty, *newest becomes that window. Always
  // returns 0. A record line whose time is not a number or lies before
  // 2000-01-01T00:00Z, or that holds a NUL byte (ZEPPORT::NUL_SUBSTITUTE),
  // is refused: counted, and reported with ZEP0311W once per run of refused
  // records (detail records for the rest of the run).
  int processLine(const char* cachedPath, const char* line, int32_t readTime, int maxMetricsRecords,
                  int maxSvcInvRecords, NewestWindow* newest);

  // Handles one header line ("#ZEP.<key>=<value>"); unknown keys are
  // ignored. Always returns 0.
  int processKeyVal(const char* line);

  // Inserts `line` (owned from then on) newest first by message time, before
  // every line of the same time, starting the walk at `start` (null: the
  // newest line).
  void insert(ZEPMELEM_MetricLine* line, ZEPMELEM_MetricLine* start);

  // Deletes the lines read more than `maxRetainSeconds` ago, and those read
  // more than `minRetainSeconds` ago that went to history. Returns 0.
  int purge(int minRetainSeconds, int maxRetainSeconds);

  // Expires the oldest windows, a whole window at a time, while the server
  // holds more than `maxSvcInvRecords` buckets (ZEP0305I).
  void enforceSvcInvLimits(int maxSvcInvRecords);

  // Metric lines, newest first.
  ZEPMELEM_MetricLine* front() const { return static_cast<ZEPMELEM_MetricLine*>(lines_.front()); }
  ZEPMELEM_MetricLine* back() const { return static_cast<ZEPMELEM_MetricLine*>(lines_.back()); }
  ZEPMELEM_MetricLine* next(const ZEPMELEM_MetricLine* l) const {
    return static_cast<ZEPMELEM_MetricLine*>(lines_.next(l));
  }
  ZEPMELEM_MetricLine* previous(const ZEPMELEM_MetricLine* l) const {
    return static_cast<ZEPMELEM_MetricLine*>(lines_.previous(l));
  }
  int32_t getNumMetrics() const { return lines_.size(); }
  // Unlinks and deletes the oldest line; false when there is none. Fetches
  // a line ahead into the processor's cache: with `forReuse` (a new line is
  // made for each one deleted, in that storage) the whole line
  // DELETE_LOOK_AHEAD places before it, otherwise the links of the line
  // inserted BULK_DELETE_LOOK_AHEAD lines after it.
  bool deleteOldestMetric(bool forReuse = false);

  // The lines not yet handed to history, newest first; null at the end.
  ZEPMELEM_MetricLine* frontUnstoredMetric() const;
  ZEPMELEM_MetricLine* nextUnstoredMetric(const ZEPMELEM_MetricLine* line) const;
  // The lines that carry a fault row, newest first; null at the end.
  ZEPMELEM_MetricLine* frontFault() const;
  ZEPMELEM_MetricLine* nextFault(const ZEPMELEM_MetricLine* line) const;
  int32_t getNumFaults() const { return numFaults_; }
  // The record lines refused since the object was made (see processLine).
  int32_t getNumRefusedRecords() const { return refusedRecords_; }
  void setMetricAddedToHistory(ZEPMELEM_MetricLine* line) { line->addedToHistory = 1; }

  // Builds the subnode name from the header fields once; later calls change
  // nothing.
  void generateSubnodeName();

  // Environment table lookups: the value of a code of exactly `len`
  // characters (case-insensitive), or -1 with ZEP00104E; the code of a
  // value, or null with ZEP00105E.
  static int16_t envStrToEnum(const char* code, int len);
  static const char* envEnumToStr(int16_t value);

  // Header fields (zero-terminated texts).
  const char* getDirectory() const { return directory_; }
  const char* getCacheDirectory() const { return cacheDirectory_; }
  const char* getLivePath() const { return livePath_; }
  const char* getVersion() const { return version_; }
  const char* getEnvCode() const { return envCode_; }
  int16_t getEnvValue() const { return envValue_; }
  const char* getCell() const { return cell_; }
  const char* getNode() const { return node_; }
  const char* getCluster() const { return cluster_; }
  const char* getServerName() const { return serverName_; }
  const char* getHostName() const { return hostName_; }
  const char* getIpAddress() const { return ipAddress_; }
  // The 32-character subnode name (blank-padded), empty until generated.
  const char* getSubnodeName() const { return subnodeName_; }

  ZEPNVLST_SvcInventoryList& svcInventory() { return svcInventory_; }
  const ZEPNVLST_SvcInventoryList& svcInventory() const { return svcInventory_; }

  bool isRegistered() const { return registered_ != 0; }
  void setRegistered() { registered_ = 1; }

 private:
  // processLine of a line of `length` characters.
  int processText(const char* line, size_t length, int32_t readTime, int maxMetricsRecords,
                  int maxSvcInvRecords, NewestWindow* newest);
  // True when the server may be read: server name set, environment >= 1.
  bool isAccepted() const { return serverName_[0] != '\0' && envValue_ >= 1; }
  // Counts and reports one refused record line (see processLine).
  void refuseRecord(const char* cause, const char* text);
  // The header columns every new row starts from, rebuilt after a header
  // line or the subnode name changed them.
  const zep_zepsmt_data_t& headerRow();
  // Copies a header value into its zero-filled field, cut to the field.
  static void setHeaderField(char* field, int size, const char* value);
  // Unlinks and deletes one line, keeping the fault count.
  void deleteMetric(ZEPMELEM_MetricLine* line);

  // Text fields start zero-filled and stay terminated.
  char directory_[PATH_SIZE] = {};
  char cacheDirectory_[PATH_SIZE] = {};
  char livePath_[PATH_SIZE] = {};
  char filename_[PATH_SIZE] = {};
  char version_[16] = {};
  char envCode_[4] = {};
  int16_t envValue_;
  char cell_[260] = {};
  char node_[260] = {};
  char cluster_[260] = {};
  char serverName_[260] = {};
  char subnodeName_[SUBNODE_NAME_LEN + 1] = {};
  char hostName_[65] = {};
  char ipAddress_[65] = {};
  ZEPLLST_LinkedList lines_;
  ZEPNVLST_SvcInventoryList svcInventory_;
  uint8_t registered_;
  int32_t numFaults_ = 0;
  int32_t refusedRecords_ = 0;
  bool refusing_ = false;  // the last record line was refused
  bool counted_ = false;   // a record was handed to the sinks
  // The last BULK_DELETE_LOOK_AHEAD lines inserted that are still held,
  // by insertion count modulo its size (null once deleted): each new line
  // becomes the laterLine of the line inserted that many before it.
  ZEPMELEM_MetricLine* recent_[BULK_DELETE_LOOK_AHEAD] = {};
  uint32_t inserted_ = 0;
  zep_zepsmt_data_t headerRow_;
  bool headerRowValid_ = false;
};

#endif  // ZEP_LOGS_ZEPDCLOG_H_
