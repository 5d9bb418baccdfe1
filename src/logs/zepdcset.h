// Agent settings and the default data-collector configuration.
//
// The agent's own settings are eleven "zep.axo.*" keys of the data-collector
// configuration file, each with bounds and a default; setDefaultGlobalDCProperties
// restores missing or unreadable ones and brings every value within its
// bounds. The default configuration template ("default.*" keys of
// "ZEP/config/default.dc.properties" under the install directory, completed
// by a built-in template) is copied into the configuration file for every
// newly seen server by setDefaultDCProperties.
//
// The operations are also reachable as static members of
// ZEPDCLST_DCMetricsLogList, which forwards to this class.
//
// Thread-safety: callers hold configPropertiesLock; the template object is
// only touched under it.
#ifndef ZEP_LOGS_ZEPDCSET_H_
#define ZEP_LOGS_ZEPDCSET_H_

class ZEPPROPS_properties;

class ZEPDCSET_settings {
 public:
  ZEPDCSET_settings() = delete;

  static constexpr int DEFAULT_MIN_RETAIN_MINUTES = 5;
  static constexpr int DEFAULT_MAX_RETAIN_MINUTES = 10;
  static constexpr int DEFAULT_MAX_REALTIME_SAMPLE_MINUTES = 5;
  static constexpr int DEFAULT_SLEEP_TIME_SECONDS = 10;
  static constexpr int DEFAULT_AGGDATA_WIN_MINUTES = 5;
  static constexpr int DEFAULT_MAX_METRICS_RECORDS = 30000;
  static constexpr int DEFAULT_MAX_SVCINV_RECORDS = 30000;
  static constexpr int DEFAULT_MAX_SVCINV_RETAIN_MINUTES = 70;
  static constexpr int DEFAULT_MAX_ARCHIVE_MINUTES = 1440;
  static constexpr int DEFAULT_MAX_ARCHIVE_MB = 200;
  static constexpr int DEFAULT_ARCHIVE_MAINT_SECONDS = 300;
  static constexpr int MAX_MAX_METRICS_RECORDS = 30000;
  static constexpr int MAX_MAX_SVCINV_RECORDS = 30000;
  static constexpr int DEFAULT_DEBUG_HISTORY = 0;

  // The setting keys.
  static constexpr const char* MIN_RETAIN_MINUTES = "zep.axo.minRetainMinutes";
  static constexpr const char* MAX_RETAIN_MINUTES = "zep.axo.maxRetainMinutes";
  static constexpr const char* MAX_REALTIME_SAMPLE_MINUTES = "zep.axo.maxRealTimeSampleMinutes";
  static constexpr const char* SLEEP_TIME_SECONDS = "zep.axo.logReadSleepTimeSeconds";
  static constexpr const char* AGGDATA_WIN_MINUTES = "zep.axo.aggDataWindowSizeMinutes";
  static constexpr const char* MAX_METRICS_RECORDS = "zep.axo.maxMetricsRecords";
  static constexpr const char* MAX_SVCINV_RECORDS = "zep.axo.maxSvcInvRecords";
  static constexpr const char* MAX_SVCINV_RETAIN_MINUTES = "zep.axo.maxSvcInvRetainMinutes";
  static constexpr const char* MAX_ARCHIVE_MINUTES = "zep.axo.logFileMaxArchiveMinutes";
  static constexpr const char* MAX_ARCHIVE_MB = "zep.axo.logFileMaxArchiveMB";
  static constexpr const char* ARCHIVE_MAINT_SECONDS = "zep.axo.archiveMaintSeconds";
  static constexpr const char* CONFIG_VERSION = "zep.config.version";
  static constexpr const char* DEBUG_HISTORY = "zep.debug.history";

  // Window lengths an aggregation window may have, in minutes, longest first.
  static constexpr int NUM_VALID_TIME_WINDOW_SIZES = 6;
  static const int VALID_TIME_WINDOW_SIZES[NUM_VALID_TIME_WINDOW_SIZES];

  // One agent setting; a bound of -1 means none.
  struct Setting {
    const char* key;
    int lower;
    int upper;
    int defaultValue;
  };
  static constexpr int NUM_SETTINGS = 11;
  static const Setting requiredGlobalProps[NUM_SETTINGS];

  // The default configuration template. Only touched under
  // configPropertiesLock.
  static ZEPPROPS_properties& defaultDCProperties();

  // Loads the template file into defaultDCProperties() (a missing file
  // leaves it empty), then adds every built-in template key it lacks.
  static void getDefaultDCProperties();

  // Restores every missing or non-numeric setting to its default, bounds the
  // others, rounds the window length down to a valid size, and saves `props`
  // to its file when anything changed. Returns whether anything changed.
  static bool setDefaultGlobalDCProperties(ZEPPROPS_properties& props);

  // Adds the default configuration of server `serverName` in environment
  // `envCode` ("<env>.<server>.<key>" for every "default.<key>" of the
  // template) where missing, sets "zep.config.version" to "1", and saves
  // `props` when it changed. With `reload`, `props` is first read afresh from
  // its file; when that read fails, the loaded content is kept and nothing
  // is added or saved.
  static void setDefaultDCProperties(ZEPPROPS_properties& props, const char* serverName,
                                     const char* envCode, bool reload);

  // The configuration of server `serverName` in environment `envCode` as
  // setDefaultDCProperties would complete it, without changing `props` or any
  // file: fills `view` (emptied first; give it no file name) with every key
  // the template names for the server, as `props` holds it or else as the
  // template gives it, and "zep.config.version" as `props` holds it.
  static void viewDCProperties(const ZEPPROPS_properties& props, const char* serverName,
                               const char* envCode, ZEPPROPS_properties& view);
};

#endif  // ZEP_LOGS_ZEPDCSET_H_
