// Agent start-up: the fixed sequence that binds the process to the
// framework, describes the agent, starts the log dispatcher and enters the
// framework's main loop.
#include "runtime/zepmain.h"

#include <cstdio>
#include <cstring>
#include <ctime>

#include "axo/base/osb1.h"
#include "axo/base/trk1.h"
#include "axo/process/axo.h"
#include "foundation/zepport.h"
#include "runtime/zepcmd.h"
#include "runtime/zepdisp.h"
#include "tables/zepdcmt.h"
#include "tables/zepdct.h"
#include "tables/zepfct.h"
#include "tables/zepflct.h"
#include "tables/zepinv.h"
#include "tables/zepmatt.h"
#include "tables/zepsmt.h"

TRK1_UNIT(zepmain_unit, "ZEPMAIN");

// Product code and version are known at build time; start-up writes them
// again before it tells the framework, so they are valid even for callers
// that run without start-up (tests of subnode registration).
char zep_product_code[8] = "ZP";
char zep_product_ver[10] = "01.01.00";
char zep_server_name[64];
char zep_agent_name[32];

namespace {

const char kProgramName[] = "zepagent";
const char kProductCode[] = "ZP";
const char kProductVersion[] = "01.01.00";
const char kSubsystemId[] = "ZEPHYRMON";
// 43 characters each: a "2" at index 9, and a "4" at index 40.
const char kAgentAffinity1[] = "0000000002000000000000000000000000000000000";
const char kAgentAffinity2[] = "0000000000000000000000000000000000000000400";
static_assert(sizeof(kAgentAffinity1) == 44 && sizeof(kAgentAffinity2) == 44);

const char kBannerTitle[] = "Zephyr Service Monitor\n";
const char kBannerNotice[] =
    "Licensed material. All rights reserved.\n"
    "Use, duplication or disclosure is restricted by the terms of the\n"
    "licence agreement under which this program is supplied.\n";

// Asks the framework for the system name of this machine and makes it the
// agent name (empty when the framework cannot tell).
void SetAgentName() {
  char name[33];
  std::memset(name, 0, sizeof name);
  const int rc = OSB1_Info(0, name, sizeof name);
  name[32] = '\0';
  TRK1_Printf(&zepmain_unit, __LINE__, "Agent name is %s\n", name);
  if (rc <= 0 || name[0] == '\0') {
    TRK1_Trace(&zepmain_unit, TRK1_ERROR, "Unable to get system name for this machine!");
    name[0] = '\0';
  }
  std::snprintf(zep_agent_name, sizeof zep_agent_name, "%s", name);
  AXO_SetHostname(zep_agent_name);
}

// How the history collector keeps the tables: the record tables keyed by
// every column and the inventory by its window, each by its own time; the
// message records and the inventory are collected unless told otherwise.
void DeclareHistory() {
  const TableHistory kRecords{
      .collectByDefault = true, .keyed = true, .keyColumns = {}, .timeColumn = "MSGTIME"};
  AXO_DeclareHistory(zep_zepsmt_table, kRecords);
  TableHistory faults = kRecords;
  faults.collectByDefault = false;
  AXO_DeclareHistory(zep_zepflct_table, faults);
  AXO_DeclareHistory(zep_zepinv_table,
                     TableHistory{.collectByDefault = true,
                                  .keyed = true,
                                  .keyColumns = {"ORIGINNODE", "SVCOPERTYP", "INTBEGTIME"},
                                  .timeColumn = "INTBEGTIME"});
}

void PrintBanner() {
  std::fputs(kBannerTitle, stdout);
  std::fputs(kBannerNotice, stdout);
  std::printf("\nBuild ID: %s\n", kZepBuildId);
  std::fflush(stdout);
}

}  // namespace

bool initZEPAgent(int argc, char** argv) {
  TRK1_FlowScope flow(&zepmain_unit, "initZEPAgent");
  bool failed = false;

  OSB1_Main(&argc, argv, kProgramName);
  TRK1_Printf(&zepmain_unit, __LINE__, "ZEPAGENT Build ID: %s\n", kZepBuildId);

  std::snprintf(zep_product_code, sizeof zep_product_code, "%s", kProductCode);
  std::snprintf(zep_product_ver, sizeof zep_product_ver, "%s", kProductVersion);
  AXO_SetAffinity(kAgentAffinity1);
  AXO_SetAffinity(kAgentAffinity2);
  AXO_SetProduct(zep_product_code, zep_product_ver);
  AXO_SetSubsystemId(kSubsystemId);
  AXO_SetNodeType(zep_product_code);

  std::memset(zep_server_name, ' ', sizeof zep_server_name);
  DetermineLocalHost(zep_server_name, sizeof zep_server_name);

  SetAgentName();
  PrintBanner();

  const int rc = ZEPDISP_dispatcher::init(nullptr);
  if (rc != 0) {
    TRK1_Trace(&zepmain_unit, TRK1_ERROR, "ZEPDisp_init () return code:%d", rc);
    failed = true;
  }
  TRK1_Trace(&zepmain_unit, TRK1_DETAIL, "ZEPDisp_init () return code:%d", rc);
  TRK1_Trace(&zepmain_unit, TRK1_FLOW, "Calling Load agents");

  AXO_RegisterAgentLoader(LoadAgents);
  AXO_RegisterCommandCallback(kProductCode, ZEP_CommandHandler);
  AXO_RegisterManagerCommand(axo_sendCommand);
  // The dispatcher stops after the framework's services, within the main
  // loop's bound on shutdown.
  AXO_RegisterShutdownHook(ZEPDISP_dispatcher::stop, "dispatcher");

  return flow.exitWith(failed);
}

int run_omxmain(int argc, char** argv) {
  TRK1_Trace(&zepmain_unit, TRK1_FLOW, "Calling omxmain()");
  const int rc = omxmain(argc, argv);
  TRK1_Trace(&zepmain_unit, TRK1_DETAIL, "omxmain() return code:%d", rc);
  return rc;
}

int axo_main(int argc, char** argv) {
  // The framework never ends the process: --help and --version have printed
  // their text (status 0), --check-web-config its verdict (status 0 or 1), a
  // bad option its message and the usage (status 2, AXO_OPTIONS_ERROR);
  // only a bound process goes on. The record sinks come first: the options
  // name the labels of their metric families.
  ZEPDISP_dispatcher::attachSinks();
  switch (OSB1_Main(&argc, argv, kProgramName)) {
    case AXO_OPTIONS_OK:
      break;
    case AXO_OPTIONS_HELP:
    case AXO_OPTIONS_VERSION:
    case AXO_OPTIONS_CHECKED:
      return 0;
    case AXO_OPTIONS_CHECK_FAILED:
      return 1;
    default:
      return AXO_OPTIONS_ERROR;
  }
  TRK1_FlowScope flow(&zepmain_unit, "ZEPAXO_MAIN");

  // A failed start-up ends the process with a non-zero status, so that the
  // launcher sees the failure.
  int rc = 1;
  if (!initZEPAgent(argc, argv)) rc = run_omxmain(argc, argv);
  // The dispatcher and situation timer threads must not outlive the objects
  // they use, which are destroyed when the process exits. The main loop
  // stopped them through its shutdown hook; when it gave up on a part that
  // did not stop, nothing more is waited for: main ends the process.
  if (rc != AXO_SHUTDOWN_UNFINISHED) ZEPDISP_dispatcher::stop();

  return flow.exitWith(rc);
}

unsigned long LoadAgents() {
  TRK1_FlowScope flow(&zepmain_unit, "LoadAgents");
  zep_zepsmt_init();
  zep_zepflct_init();
  zep_zepdcmt_init();
  zep_zepdct_init();
  zep_zepfct_init();
  zep_zepmatt_init();
  zep_zepinv_init();
  DeclareHistory();
  return flow.exitWith(0ul);
}

void get_timestamp(char* buffer) {
  const time_t now = ZEPPORT::now();
  struct tm local;
  std::memset(&local, 0, sizeof local);
  localtime_r(&now, &local);
  char text[80];
  std::snprintf(text, sizeof text, "%03d%02d%02d%02d%02d%02d%02d", local.tm_year, local.tm_mon + 1,
                local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, 0);
  std::snprintf(buffer, 16, "%.15s", text);
}
