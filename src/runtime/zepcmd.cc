// Subnode registration, the action-command callback and manager commands.
#include "runtime/zepcmd.h"

#include <cstring>

#include "axo/base/trk1.h"
#include "axo/process/axo.h"
#include "axo/tables/vexor.h"
#include "config/zepacmd.h"
#include "foundation/zepprops.h"
#include "runtime/zepdisp.h"
#include "runtime/zepmain.h"

TRK1_UNIT(zepcmd_unit, "ZEPCMD");

namespace {

// Result code of a rejected action command.
const long kRcError = 2;

// 43 characters each: a "2" at index 11, and a "4" at index 40.
const char kSubnodeAffinity1[] = "0000000000020000000000000000000000000000000";
const char kSubnodeAffinity2[] = "0000000000000000000000000000000000000000400";
static_assert(sizeof(kSubnodeAffinity1) == 44 && sizeof(kSubnodeAffinity2) == 44);

// AXO_Subnode_SendRequest's answer when there was nothing new to send.
const int kSendNothingNew = 7;

// True when `word` exists and begins with `prefix`.
bool WordBeginsWith(const char* word, const char* prefix) {
  return word != nullptr && std::strncmp(word, prefix, std::strlen(prefix)) == 0;
}

}  // namespace

int zepRegisterSubnode(char* name) {
  TRK1_FlowScope flow(&zepcmd_unit, "zepRegisterSubnode");
  const char* node = name != nullptr ? name : "";
  TRK1_Trace(&zepcmd_unit, TRK1_DUMP, "AXO_Subnode_Register %s. %s. %s. %s.", node,
             kSubnodeAffinity1, zep_product_code, zep_product_ver);
  int rc = AXO_Subnode_Register_nAff(node, zep_product_code, zep_product_ver, 2, kSubnodeAffinity1,
                                     kSubnodeAffinity2);
  if (rc != 0) {
    TRK1_Printf(&zepcmd_unit, __LINE__, "AXO_Subnode_Register_nAff error: RC=%d, Node=%s.", rc,
                node);
  } else {
    rc = AXO_Subnode_SendRequest();
    if (rc == kSendNothingNew) {
      rc = 0;
    } else if (rc != 0) {
      TRK1_Printf(&zepcmd_unit, __LINE__, "AXO_Subnode_SendRequest call returned with %d.", rc);
    }
  }
  return flow.exitWith(rc);
}

long ZEP_CommandHandler(VexorAutomationCapsule* capsule) {
  TRK1_FlowScope flow(&zepcmd_unit, "ZEP_CommandHandler");
  if (capsule == nullptr) return flow.exitWith(kRcError);
  // The capsule's text begins with a three-character prefix, then the
  // command after any leading blanks.
  const char* command = capsule->GetCommand();
  while (*command == ' ') ++command;
  TRK1_Trace(&zepcmd_unit, TRK1_DETAIL, "Command received is: %s\n", command);

  char message[100];
  std::memset(message, 0, sizeof(message));
  long rc;
  {
    // Commands are serialised with each other and with every reader of the
    // configuration; the metric log list is not touched. A command that
    // cannot have the configuration within the framework's wait limit is
    // not run: the framework answers that the agent is busy.
    OSB1_ScopedLock configLock(&ZEPDISP_dispatcher::configPropertiesLock, OSB1_BOUNDED);
    if (!configLock.held()) {
      TRK1_Trace(&zepcmd_unit, TRK1_DETAIL, "Command not run: the configuration is busy\n");
      capsule->GetVexor()->FinishedAutomationCommand(capsule);
      return flow.exitWith(static_cast<long>(AXO_RC_BUSY));
    }
    ZEPACMD_actionCommand action;
    rc = action.handleAction(command, ZEPDISP_dispatcher::configProperties, message,
                             static_cast<int>(sizeof(message)));
  }

  TRK1_Trace(&zepcmd_unit, TRK1_DETAIL, "Result to framework is: %ld\n", rc);
  capsule->SetResult(rc);
  if (message[0] != '\0') {
    capsule->SetMessage(message);
    TRK1_Trace(&zepcmd_unit, TRK1_DETAIL, "Message to framework is: %s\n", message);
  }
  capsule->GetVexor()->FinishedAutomationCommand(capsule);
  return flow.exitWith(rc);
}

int axo_sendCommand(int argc, char** argv) {
  TRK1_FlowScope flow(&zepcmd_unit, "axo_sendCommand");
  if (argv == nullptr) argc = 0;
  if ((argc > 3 && WordBeginsWith(argv[3], "SHUTDOWN")) ||
      (argc > 2 && WordBeginsWith(argv[2], "STOP"))) {
    AXO_Shutdown(1);
  } else if (argc > 2) {
    TRK1_Printf(&zepcmd_unit, __LINE__, "ZEP AXO Manager command unknown: %s.",
                argv[2] != nullptr ? argv[2] : "");
  } else {
    TRK1_Printf(&zepcmd_unit, __LINE__, "ZEP AXO Manager command operand missing.");
  }
  return flow.exitWith(0);
}
