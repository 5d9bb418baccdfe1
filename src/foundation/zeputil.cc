// Install paths: finding the install, configuration and log directories.
#include "foundation/zeputil.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "axo/base/env.h"
#include "axo/base/trk1.h"
#include "foundation/zepport.h"
#include "foundation/zepprops.h"
#include "foundation/zepstrut.h"

TRK1_UNIT(zeputil_unit, "ZEPUTIL");

const char* const ZEPUTIL::BASE_DIR_FILE = "ZEPBaseDirConfig.properties";
const char* const ZEPUTIL::INSTALL_DIR_KEY = "INSTALLDIR";
const char* const ZEPUTIL::CONFIG_FILE = "ZEP/config/ZEP.dc.properties";
const char* const ZEPUTIL::LOG_DIR_KEY = "dc.logging.directory";
const char* const ZEPUTIL::LOG_DIR = "ZEP/logs";

namespace {

// The base-directory file that ZEP0252E named since a base-directory file
// was last found; empty: none. The lookup runs on every pass and would
// repeat the message; a file in another etc directory is named anew.
std::mutex g_missing_mutex;
std::string g_missing_reported;  // guarded by g_missing_mutex

void CopyPath(char* buffer, const char* path) { snprintf(buffer, ZEPUTIL::PATH_SIZE, "%s", path); }

// Appends a separator (unless `buffer` ends with one) and `tail`, cut at the
// buffer's bound.
void AppendPath(char* buffer, const char* tail) {
  ZEPSTRUT_stringUtil::addFileSeparator(buffer, ZEPUTIL::PATH_SIZE);
  const size_t used = strlen(buffer);
  snprintf(buffer + used, ZEPUTIL::PATH_SIZE - used, "%s", tail);
}

// Returns the value of `key` in the properties file `path`, copied into
// `value`, or false. A missing file is not created: looking up a path must
// not leave empty files behind in the etc or install directory.
// With `followLink`, a link at `path` is resolved first (loading never
// follows one): the etc directory belongs to root, who may link its files
// anywhere.
bool LookUp(const char* path, const char* key, char* value, bool followLink) {
  ZEP_STAT st;
  if (ZEPPORT::zep_stat(path, &st) != 0) return false;
  char* resolved = followLink ? realpath(path, nullptr) : nullptr;
  ZEPPROPS_properties props;
  const int rc = props.load(resolved != nullptr ? resolved : path);
  free(resolved);
  if (rc != ZEPPROPS_properties::OK) return false;
  const char* found = props.getProperty(key);
  if (found == nullptr) return false;
  CopyPath(value, found);
  return true;
}

}  // namespace

char* ZEPUTIL::getEtcDir(char* buffer) {
  TRK1_FlowScope flow(&zeputil_unit, "getEtcDir");
  CopyPath(buffer, axo::Env::Current()->EtcDir().c_str());
  TRK1_Trace(&zeputil_unit, TRK1_DETAIL, "ZEP0255I etc directory name is %s\n", buffer);
  return buffer;
}

char* ZEPUTIL::getTmpDir(char* buffer) {
  TRK1_FlowScope flow(&zeputil_unit, "getTmpDir");
  CopyPath(buffer, axo::Env::Current()->TmpDir().c_str());
  TRK1_Trace(&zeputil_unit, TRK1_DETAIL, "ZEP0256I Temp directory name is %s\n", buffer);
  return buffer;
}

char* ZEPUTIL::getInstallDirectory(char* buffer) {
  TRK1_FlowScope flow(&zeputil_unit, "getInstallDirectory");
  char base_file[PATH_SIZE];
  getEtcDir(base_file);
  AppendPath(base_file, BASE_DIR_FILE);
  if (LookUp(base_file, INSTALL_DIR_KEY, buffer, /*followLink=*/true)) {
    {
      std::lock_guard<std::mutex> guard(g_missing_mutex);
      g_missing_reported.clear();
    }
    TRK1_Trace(&zeputil_unit, TRK1_DETAIL, "ZEP0253I Installation directory name is %s\n", buffer);
  } else {
    getTmpDir(buffer);
    bool said;
    {
      std::lock_guard<std::mutex> guard(g_missing_mutex);
      said = g_missing_reported == base_file;
      g_missing_reported = base_file;
    }
    if (!said && TRK1_On(&zeputil_unit, TRK1_ERROR)) {
      TRK1_Printf(&zeputil_unit, __LINE__,
                  "ZEP0252E Could not find install directory. Using tmp dir %s. "
                  "Create %s with the line %s=<install directory>\n",
                  buffer, base_file, INSTALL_DIR_KEY);
    }
  }
  return buffer;
}

char* ZEPUTIL::getConfigFileName(char* buffer) {
  TRK1_FlowScope flow(&zeputil_unit, "getConfigFileName");
  getInstallDirectory(buffer);
  AppendPath(buffer, CONFIG_FILE);
  TRK1_Trace(&zeputil_unit, TRK1_DETAIL, "ZEP0251I Configuration filename is %s\n", buffer);
  return buffer;
}

char* ZEPUTIL::getLogDirName(char* buffer) {
  TRK1_FlowScope flow(&zeputil_unit, "getLogDirName");
  char config_file[PATH_SIZE];
  getConfigFileName(config_file);
  if (!LookUp(config_file, LOG_DIR_KEY, buffer, /*followLink=*/false)) {
    getInstallDirectory(buffer);
    AppendPath(buffer, LOG_DIR);
  }
  TRK1_Trace(&zeputil_unit, TRK1_DETAIL, "ZEP0254I Log directory name is %s\n", buffer);
  return buffer;
}
