// Install paths: where the agent finds its install directory, the
// data-collector configuration file and the metric log directory.
//
// Every operation has a fixed fall-back so that the agent always gets a
// usable path: without a base-directory file naming "INSTALLDIR" the install
// directory is the temporary directory; without "dc.logging.directory" in the
// configuration file the logs live under the install directory.
//
// The etc directory (which holds "ZEPBaseDirConfig.properties") and the
// temporary directory are the current env's (axo/base/env.h): normally the
// environment variable ZEP_ETC_DIR -- a seam for end-to-end tests and the
// demo only, so that a started binary never reads the real etc directory;
// the agent is configured through files, not the environment -- else the
// build setting ZEP_ETC_DIR (default "/etc"), and "/tmp"; in-process tests
// install an env with directories of their own.
//
// Path operations write into a caller-supplied buffer of ZEPUTIL::PATH_SIZE
// (260) bytes and return it; longer paths are cut at 259 characters.
//
// Thread-safety: the operations may be called from any thread.
#ifndef ZEP_FOUNDATION_ZEPUTIL_H_
#define ZEP_FOUNDATION_ZEPUTIL_H_

class ZEPUTIL {
 public:
  static constexpr int PATH_SIZE = 260;

  static const char* const BASE_DIR_FILE;    // "ZEPBaseDirConfig.properties"
  static const char* const INSTALL_DIR_KEY;  // "INSTALLDIR"
  static const char* const CONFIG_FILE;      // "ZEP/config/ZEP.dc.properties"
  static const char* const LOG_DIR_KEY;      // "dc.logging.directory"
  static const char* const LOG_DIR;          // "ZEP/logs"

  virtual ~ZEPUTIL() = default;

  // Writes the etc directory into `buffer` (PATH_SIZE bytes) and returns it.
  static char* getEtcDir(char* buffer);

  // Writes the temporary directory ("/tmp" unless a test env tells another)
  // into `buffer` and returns it.
  static char* getTmpDir(char* buffer);

  // Writes the install directory: the "INSTALLDIR" value of the base-directory
  // file, or the temporary directory when there is none. ZEP0252E, which
  // names the file to create, is traced once until the file is found again
  // or the etc directory changes.
  // Never returns null.
  static char* getInstallDirectory(char* buffer);

  // Writes the install directory, a separator and "ZEP/config/ZEP.dc.properties".
  static char* getConfigFileName(char* buffer);

  // Writes the "dc.logging.directory" value of the configuration file exactly
  // as written, or the install directory, a separator and "ZEP/logs".
  static char* getLogDirName(char* buffer);
};

#endif  // ZEP_FOUNDATION_ZEPUTIL_H_
