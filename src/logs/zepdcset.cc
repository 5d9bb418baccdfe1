// Agent settings and the default data-collector configuration.
#include "logs/zepdcset.h"

#include <cstdio>
#include <cstring>

#include "axo/base/trk1.h"
#include "foundation/zepport.h"
#include "foundation/zepprops.h"
#include "foundation/zepstrut.h"
#include "foundation/zeputil.h"

TRK1_UNIT(zepdcset_unit, "ZEPDCSET");

const int ZEPDCSET_settings::VALID_TIME_WINDOW_SIZES[NUM_VALID_TIME_WINDOW_SIZES] = {60, 30, 20,
                                                                                     15, 10, 5};

const ZEPDCSET_settings::Setting ZEPDCSET_settings::requiredGlobalProps[NUM_SETTINGS] = {
    {MIN_RETAIN_MINUTES, 0, 1440, DEFAULT_MIN_RETAIN_MINUTES},
    {MAX_RETAIN_MINUTES, 0, 1440, DEFAULT_MAX_RETAIN_MINUTES},
    {MAX_REALTIME_SAMPLE_MINUTES, 1, 130, DEFAULT_MAX_REALTIME_SAMPLE_MINUTES},
    {SLEEP_TIME_SECONDS, 1, 10, DEFAULT_SLEEP_TIME_SECONDS},
    {AGGDATA_WIN_MINUTES, 5, 60, DEFAULT_AGGDATA_WIN_MINUTES},
    {MAX_METRICS_RECORDS, 0, MAX_MAX_METRICS_RECORDS, DEFAULT_MAX_METRICS_RECORDS},
    {MAX_SVCINV_RECORDS, 200, MAX_MAX_SVCINV_RECORDS, DEFAULT_MAX_SVCINV_RECORDS},
    {MAX_SVCINV_RETAIN_MINUTES, 5, 1440, DEFAULT_MAX_SVCINV_RETAIN_MINUTES},
    {MAX_ARCHIVE_MINUTES, 0, 43200, DEFAULT_MAX_ARCHIVE_MINUTES},
    {MAX_ARCHIVE_MB, -1, -1, DEFAULT_MAX_ARCHIVE_MB},
    {ARCHIVE_MAINT_SECONDS, 10, 86400, DEFAULT_ARCHIVE_MAINT_SECONDS},
};

namespace {

constexpr const char* kTemplatePrefix = "default.";

// Keys the template always has, whatever its file supplies.
const struct {
  const char* key;
  const char* value;
} kBuiltInTemplate[] = {
    {"default.monitor", "on"},
    {"default.log", "error"},
    {"default.trace", "off"},
    {"default.monitor.control.count", "1"},
    {"default.monitor.control.1", "*;*;*;none"},
    {"default.filter.control.count", "0"},
};

// Calls fn(serverKey, value) for every "default.<key>" of the template
// (which must be loaded), with serverKey "<env>.<server>.<key>".
template <typename Fn>
void forEachServerDefault(const char* serverName, const char* envCode, Fn fn) {
  const size_t prefixLen = std::strlen(kTemplatePrefix);
  ZEPPROPS_properties& tmpl = ZEPDCSET_settings::defaultDCProperties();
  for (ZEPKVPAR_keyValuePair* e = tmpl.front(); e != nullptr; e = tmpl.next(e)) {
    const char* key = e->getKey();
    if (std::strncmp(key, kTemplatePrefix, prefixLen) != 0) continue;
    char serverKey[2048];
    const int n = std::snprintf(serverKey, sizeof(serverKey), "%s.%s.%s", envCode, serverName,
                                key + prefixLen);
    if (n < 0 || n >= static_cast<int>(sizeof(serverKey))) continue;
    fn(serverKey, e->getValue());
  }
}

}  // namespace

ZEPPROPS_properties& ZEPDCSET_settings::defaultDCProperties() {
  static ZEPPROPS_properties* props = new ZEPPROPS_properties();  // never destroyed
  return *props;
}

void ZEPDCSET_settings::getDefaultDCProperties() {
  ZEPPROPS_properties& tmpl = defaultDCProperties();
  char installDir[ZEPUTIL::PATH_SIZE];
  ZEPUTIL::getInstallDirectory(installDir);
  ZEPSTRUT_stringUtil::addFileSeparator(installDir, sizeof(installDir));
  char path[ZEPUTIL::PATH_SIZE];
  const int n = std::snprintf(path, sizeof(path), "%sZEP/config/default.dc.properties", installDir);
  tmpl.clear();
  ZEP_STAT st;
  if (n > 0 && n < static_cast<int>(sizeof(path))) {
    tmpl.setPropertyFilename(path);
    // Loading would create a missing file; a missing template just means
    // the built-in one.
    if (ZEPPORT::zep_stat(path, &st) == 0) tmpl.load();
  } else
    TRK1_Trace(&zepdcset_unit, TRK1_ERROR, "ZEP0309E Template file name too long under %s\n",
               installDir);
  for (const auto& kv : kBuiltInTemplate) {
    if (tmpl.getProperty(kv.key) == nullptr) tmpl.setProperty(kv.key, kv.value);
  }
}

bool ZEPDCSET_settings::setDefaultGlobalDCProperties(ZEPPROPS_properties& props) {
  bool changed = false;
  for (const Setting& s : requiredGlobalProps) {
    const char* text = props.getProperty(s.key);
    const int value =
        text != nullptr ? ZEPSTRUT_stringUtil::atoi(text, -1) : ZEPSTRUT_stringUtil::ATOI_ERROR;
    int fixed = value;
    if (value == ZEPSTRUT_stringUtil::ATOI_ERROR) {
      fixed = s.defaultValue;
    } else if (s.lower >= 0 && value < s.lower) {
      fixed = s.lower;
    } else if (s.upper >= 0 && value > s.upper) {
      fixed = s.upper;
    }
    if (fixed != value) {
      props.setProperty(s.key, fixed);
      changed = true;
      TRK1_Trace(&zepdcset_unit, TRK1_DETAIL, "setting %s set to %d\n", s.key, fixed);
    }
  }
  const int window = props.getPropertyAsInt(AGGDATA_WIN_MINUTES, DEFAULT_AGGDATA_WIN_MINUTES);
  for (int size : VALID_TIME_WINDOW_SIZES) {
    if (size == window) break;
    if (size < window) {
      props.setProperty(AGGDATA_WIN_MINUTES, size);
      changed = true;
      break;
    }
  }
  if (changed) props.save(nullptr);
  return changed;
}

void ZEPDCSET_settings::setDefaultDCProperties(ZEPPROPS_properties& props, const char* serverName,
                                               const char* envCode, bool reload) {
  if (serverName == nullptr || envCode == nullptr) return;
  getDefaultDCProperties();
  // A failed reload keeps what is loaded; editing and saving a partial or
  // empty set would destroy the configuration file.
  if (reload && props.load() != 0) {
    TRK1_Trace(&zepdcset_unit, TRK1_ERROR,
               "ZEP0310E Configuration not reloaded; defaults of server %s not added\n",
               serverName);
    return;
  }
  bool changed = false;
  forEachServerDefault(serverName, envCode, [&](const char* serverKey, const char* value) {
    if (props.getProperty(serverKey) == nullptr) {
      props.setProperty(serverKey, value);
      changed = true;
    }
  });
  const char* version = props.getProperty(CONFIG_VERSION);
  if (version == nullptr || std::strcmp(version, "1") != 0) {
    props.setProperty(CONFIG_VERSION, "1");
    changed = true;
  }
  if (changed) props.save(nullptr);
  TRK1_Trace(&zepdcset_unit, TRK1_DETAIL, "default configuration of %s.%s %s\n", envCode,
             serverName, changed ? "written" : "already present");
}

void ZEPDCSET_settings::viewDCProperties(const ZEPPROPS_properties& props, const char* serverName,
                                         const char* envCode, ZEPPROPS_properties& view) {
  view.clear();
  if (serverName == nullptr || envCode == nullptr) return;
  getDefaultDCProperties();
  forEachServerDefault(serverName, envCode, [&](const char* serverKey, const char* value) {
    const char* held = props.getProperty(serverKey);
    view.setProperty(serverKey, held != nullptr ? held : value);
  });
  if (const char* version = props.getProperty(CONFIG_VERSION)) {
    view.setProperty(CONFIG_VERSION, version);
  }
}
