// Entry points that connect the agent with the framework outside the
// tables: registration of a monitored server as a subnode of the agent, the
// action-command callback, and the manager command that stops the agent.
//
// Thread-safety: zepRegisterSubnode runs on the dispatcher thread (holding
// both dispatcher locks); ZEP_CommandHandler on a framework thread, and takes
// configPropertiesLock only; axo_sendCommand on any thread.
#ifndef ZEP_RUNTIME_ZEPCMD_H_
#define ZEP_RUNTIME_ZEPCMD_H_

class VexorAutomationCapsule;

// Registers the subnode `name` (a 32-character, blank-padded subnode name)
// with the framework under the agent's product code and version. Returns 0
// on success (the framework's send step may also answer 7, which counts as
// success), otherwise the framework's return code. Refusals are traced at
// every trace level.
int zepRegisterSubnode(char* name);

// The action-command callback, registered at start-up for product "ZP". The
// capsule's text carries a three-character prefix that is skipped, then the
// command. Stores the result code in the capsule, passes any message, and
// finishes the command towards the framework. Returns the result code
// (0 changed, 1 nothing to change, 2 rejected), or AXO_RC_BUSY without a
// result in the capsule when configPropertiesLock stayed taken past the
// calling thread's wait limit (the command was not run).
long ZEP_CommandHandler(VexorAutomationCapsule* capsule);

// A manager command given as its words. Stops the agent (AXO_Shutdown) when
// the fourth word begins with "SHUTDOWN" or the third with "STOP"; otherwise
// traces the unknown or missing operand. Always returns 0.
extern "C" int axo_sendCommand(int argc, char** argv);

#endif  // ZEP_RUNTIME_ZEPCMD_H_
