// Metric log list: every monitored server and its records.
//
// ZEPDCLST_DCMetricsLogList owns one ZEPDCLOG_DCMetricsLogFile per monitored
// server, identified by its subnode name, in order of first registration. It
// scans the log directory and moves each new metric log file into the cache
// subdirectory "ZEP.DCA.CACHE" (readLogs), re-reads the cache at start-up
// (readCachedLogs), registers each new server as a subnode and writes its
// default configuration, keeps the metric lines and aggregation buckets under
// their limits, ages both out (purgeLogs), and trims the subdirectory
// "archive" of the cache by age and size (purgeArchive).
//
// The agent has one instance, ZEPSHARED_agentData::metricsLogList. "props" is
// the data-collector configuration, which also holds the agent's settings
// (see ZEPDCSET_settings).
//
// Ownership: the list owns its server objects.
//
// Thread-safety: none of its own. Every caller holds metricsLogListLock; a
// caller that passes the configuration also holds configPropertiesLock,
// taken first.
#ifndef ZEP_LOGS_ZEPDCLST_H_
#define ZEP_LOGS_ZEPDCLST_H_

#include <cstdint>
#include <ctime>
#include <set>
#include <string>

#include "foundation/zepdirls.h"
#include "foundation/zepllst.h"
#include "foundation/zepport.h"
#include "logs/zepdclog.h"
#include "logs/zepdcset.h"

class ZEPPROPS_properties;
class ZEPADLST_AggDataList;
class ZEPAELEM_AggData;

class ZEPDCLST_DCMetricsLogList {
 public:
  static constexpr const char* RELATIVE_CACHE_SUBDIR_NAME = "ZEP.DCA.CACHE";
  static constexpr const char* ARCHIVE_SUBDIR_NAME = "archive";

  // Settings, as ZEPDCSET_settings defines them.
  static constexpr int DEFAULT_MIN_RETAIN_MINUTES = ZEPDCSET_settings::DEFAULT_MIN_RETAIN_MINUTES;
  static constexpr int DEFAULT_MAX_RETAIN_MINUTES = ZEPDCSET_settings::DEFAULT_MAX_RETAIN_MINUTES;
  static constexpr int DEFAULT_MAX_REALTIME_SAMPLE_MINUTES =
      ZEPDCSET_settings::DEFAULT_MAX_REALTIME_SAMPLE_MINUTES;
  static constexpr int DEFAULT_SLEEP_TIME_SECONDS = ZEPDCSET_settings::DEFAULT_SLEEP_TIME_SECONDS;
  static constexpr int DEFAULT_AGGDATA_WIN_MINUTES = ZEPDCSET_settings::DEFAULT_AGGDATA_WIN_MINUTES;
  static constexpr int DEFAULT_MAX_METRICS_RECORDS = ZEPDCSET_settings::DEFAULT_MAX_METRICS_RECORDS;
  static constexpr int DEFAULT_MAX_SVCINV_RECORDS = ZEPDCSET_settings::DEFAULT_MAX_SVCINV_RECORDS;
  static constexpr int DEFAULT_MAX_SVCINV_RETAIN_MINUTES =
      ZEPDCSET_settings::DEFAULT_MAX_SVCINV_RETAIN_MINUTES;
  static constexpr int DEFAULT_MAX_ARCHIVE_MINUTES = ZEPDCSET_settings::DEFAULT_MAX_ARCHIVE_MINUTES;
  static constexpr int DEFAULT_MAX_ARCHIVE_MB = ZEPDCSET_settings::DEFAULT_MAX_ARCHIVE_MB;
  static constexpr int DEFAULT_ARCHIVE_MAINT_SECONDS =
      ZEPDCSET_settings::DEFAULT_ARCHIVE_MAINT_SECONDS;
  static constexpr int MAX_MAX_METRICS_RECORDS = ZEPDCSET_settings::MAX_MAX_METRICS_RECORDS;
  static constexpr int MAX_MAX_SVCINV_RECORDS = ZEPDCSET_settings::MAX_MAX_SVCINV_RECORDS;

  // Empty listings; setDirectoryName gives the log directory.
  ZEPDCLST_DCMetricsLogList();
  // As setDirectoryName(logDirectory).
  explicit ZEPDCLST_DCMetricsLogList(const char* logDirectory);
  virtual ~ZEPDCLST_DCMetricsLogList();

  ZEPDCLST_DCMetricsLogList(const ZEPDCLST_DCMetricsLogList&) = delete;
  ZEPDCLST_DCMetricsLogList& operator=(const ZEPDCLST_DCMetricsLogList&) = delete;

  // Announces a new server to the framework as a subnode: given its
  // 32-character subnode name, returns 0 on success or the framework's code.
  using SubnodeRegistrar = int (*)(char* subnodeName);
  // Sets how new servers are registered (the runtime's zepRegisterSubnode in
  // the agent). Without a registrar a new server is refused with -1, so a
  // list nobody wired up never holds a server the framework does not know.
  void setSubnodeRegistrar(SubnodeRegistrar registrar) { registrar_ = registrar; }

  // Sets the log directory and the cache and archive listings (creating the
  // two subdirectories when missing). When the log directory does not exist
  // yet, the two listings follow once it does (at their next use).
  void setDirectoryName(const char* logDirectory);
  // The log directory, with its trailing separator ("" when not set).
  const char* getDirectoryName() const { return logDirList_.getDirectoryName(); }

  // Write "<log directory>/ZEP.DCA.CACHE" or ".../ZEP.DCA.CACHE/archive" into
  // `buf` (260 bytes), creating the directory when missing. Return `buf`, or
  // null (with a message) when the path is too long or the directory is a
  // symbolic link or belongs to another user.
  char* getCacheSubdirName(char* buf);
  char* getArchiveSubdirName(char* buf);

  // Writes into `out` (260 bytes) the metric log file name a cached file had
  // before caching: the cached name cut at its last "."; returns `out`, or
  // null when that is not a metric log file name.
  static char* getOriginalFilename(char* out, const char* cachedName);

  // One scan of the log directory: every metric log file, oldest first, is
  // moved into the cache and read. Returns 0, or -1 when any file failed.
  // Only regular files are taken: a link, FIFO, device, socket or directory
  // named like a metric log file is left where it is, reported once per name
  // (ZEP0312W) and counted in zep_files_skipped_total{reason}.
  int readLogs(ZEPPROPS_properties& props);
  // The start-up scan: every file left in the cache is read again (regular
  // files only, as readLogs). Returns 0, or -1 when any file failed.
  int readCachedLogs(ZEPPROPS_properties& props);

  // Reads one file into its server's object, registering a new server.
  // `tmpName` (260 bytes) is the cached path: empty for a file fresh from the
  // log directory (then filled in), set for a cached file. Returns 0 or the
  // failure code (ZEP0301E).
  int processLog(ZEPPROPS_properties& props, const char* filename, char* tmpName);

  // Finds or creates the server object for one file: caches it when needed,
  // reads its header. On success `file` is open and `line` holds the first
  // record. Returns the existing object of the same subnode, a new object
  // (not yet in the list, owned by the caller), or null.
  ZEPDCLOG_DCMetricsLogFile* getMetricLogForFile(const char* directory, const char* filename,
                                                 char* tmpName, ZEP_FILE* file, char* line);

  // The server whose 32-byte subnode name equals the 32 bytes at `name`.
  ZEPDCLOG_DCMetricsLogFile* findSubNode(const char* name) const;
  // The first server with this server name and environment code.
  ZEPDCLOG_DCMetricsLogFile* findServerLog(const char* serverName, const char* envCode) const;

  // The number of metric lines of all servers.
  int getNumMetricsRecords() const;
  // The server whose oldest line has the smallest message time (the earlier
  // server on equal times), or null when no server holds a line.
  ZEPDCLOG_DCMetricsLogFile* getLogWithOldestMetric() const;
  // Deletes the `n` oldest lines over all servers, each time from the server
  // holding the oldest line. Returns the number deleted.
  int deleteOldestMetricRecords(int n);
  // Deletes the oldest lines while more than "zep.axo.maxMetricsRecords"
  // are held.
  void enforceMaxRecordsLimit(ZEPPROPS_properties& props);

  // One retention pass: ages out metric lines, limits the buckets, trims
  // the archive. Returns 0.
  int purgeLogs(ZEPPROPS_properties& props);
  // Trims the archive by age and size, at most once per
  // "zep.axo.archiveMaintSeconds". Returns 0 or the last failed removal's
  // result.
  int purgeArchive(ZEPPROPS_properties& props);
  // Deletes the buckets that went to history or aged out, then whole oldest
  // windows while more than "zep.axo.maxSvcInvRecords" remain.
  void enforceSvcInvLimits(ZEPPROPS_properties& props);

  // The oldest bucket over all servers (the earlier server on equal begins):
  // outputs null, null and 2147483647 when there is none. Returns the number
  // of buckets of all servers.
  int getOldestAggDataBucket(ZEPADLST_AggDataList** list, ZEPAELEM_AggData** bucket,
                             int32_t* begin) const;
  // Expires every bucket before `windowBegin` that went to history or was
  // last read before `ageCutoff`. Returns the number of buckets remaining.
  int deleteHistoriedAndAgedOut(time_t ageCutoff, time_t windowBegin);

  // The servers in order of registration.
  ZEPDCLOG_DCMetricsLogFile* front() const {
    return static_cast<ZEPDCLOG_DCMetricsLogFile*>(logs_.front());
  }
  ZEPDCLOG_DCMetricsLogFile* next(const ZEPDCLOG_DCMetricsLogFile* log) const {
    return static_cast<ZEPDCLOG_DCMetricsLogFile*>(logs_.next(log));
  }
  int32_t size() const { return logs_.size(); }
  // Deletes every server object and forgets the archive maintenance time
  // and the files reported as left alone.
  void clear();

  // The agent settings (see ZEPDCSET_settings).
  static ZEPPROPS_properties& defaultDCProperties() {
    return ZEPDCSET_settings::defaultDCProperties();
  }
  static void getDefaultDCProperties() { ZEPDCSET_settings::getDefaultDCProperties(); }
  static bool setDefaultGlobalDCProperties(ZEPPROPS_properties& props) {
    return ZEPDCSET_settings::setDefaultGlobalDCProperties(props);
  }
  static void setDefaultDCProperties(ZEPPROPS_properties& props, const char* serverName,
                                     const char* envCode, bool reload) {
    ZEPDCSET_settings::setDefaultDCProperties(props, serverName, envCode, reload);
  }

 private:
  // Registers a server read for the first time and adds it to the list.
  // Returns 0 or the registration's failure code.
  int registerLog(ZEPPROPS_properties& props, ZEPDCLOG_DCMetricsLogFile* log);
  // `subdir` under the log directory (or under the cache directory when
  // `underCache`), created when missing and checked for safety. A `listing`
  // that names no directory yet (it was set up before the log directory
  // existed) is pointed at it.
  char* makeSubdirName(char* buf, bool underCache, const char* subdir, ZEPDIRLS_dirList& listing);
  // Reports the entries of `listing.otherList` named like metric log files
  // (like cached ones when `cached`) that are not in `*reported`, then
  // leaves in `*reported` the names present now: each is reported once
  // while it stays, and again should it come back.
  void reportIrregular(const ZEPDIRLS_dirList& listing, bool cached,
                       std::set<std::string>* reported);

  ZEPDIRLS_dirList logDirList_;
  ZEPDIRLS_dirList cacheDirList_;
  ZEPDIRLS_dirList archiveDirList_;
  ZEPLLST_LinkedList logs_;
  std::set<std::string> reportedInLogDir_;  // names reported by reportIrregular
  std::set<std::string> reportedInCache_;
  int32_t lastArchiveMaintenance_ = 0;
  SubnodeRegistrar registrar_ = nullptr;
};

#endif  // ZEP_LOGS_ZEPDCLST_H_
