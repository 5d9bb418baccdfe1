// The log dispatcher: owner of the agent's shared data and its two locks.
//
// The dispatcher holds, as process-wide static members inherited from
// ZEPSHARED_agentData (logs/zepshared.h, which states the lock order), the
// data-collector configuration properties and the metric log list with the
// two locks that guard them, and runs the background thread that reads
// metric log files. Table sampling and action commands reach the same
// structures, under the same locks.
#ifndef ZEP_RUNTIME_ZEPDISP_H_
#define ZEP_RUNTIME_ZEPDISP_H_

#include <pthread.h>

#include <atomic>
#include <ctime>

#include "logs/zepshared.h"

class ZEPDC_DataComputer;

class ZEPDISP_dispatcher : public ZEPSHARED_agentData {
 public:
  virtual ~ZEPDISP_dispatcher() = default;

  // One-time initialisation. `arg` is always null in the agent. Returns 0 on
  // success, the thread-creation error number when the dispatcher thread
  // cannot be started, and -1 when called a second time.
  static int init(const char* arg);

  // Body of the dispatcher thread: passes until fTerminate is set.
  static void dispatch();

  // One pass of the dispatcher loop without the sleep: reload the
  // configuration when it changed, enforce the settings, read new metric
  // logs, purge. Takes both locks in order. Returns the sleep time in
  // seconds that the loop would sleep after this pass. Tests call it directly.
  static int runOnePass();

  // Polls fDispatcherTerminated once per second until it is set.
  static void waitForDispatcherTermination();

  // Asks the dispatcher thread to end and waits for it (and for the data
  // computer's timer thread, which the dispatcher deletes). Safe to call when
  // init never ran or the thread never started. Used before the process
  // exits so that no thread touches a static object while it is destroyed.
  static void stop();

  // Returns the dispatcher to its state before init (tests only): stops the
  // thread if it runs, deletes the data computer, clears the properties and
  // the metric log list and the inited flag.
  static void resetForTesting();

  // Like init, but never starts the dispatcher thread (tests drive passes
  // with runOnePass). Returns 0, or -1 when already initialised.
  static int initWithoutThread();

  // Makes the service sinks (logs/zepsvcsink.h: inventory, metrics,
  // windows) once and attaches them to the record stages; init adds the data
  // computer as the situations stage. The metric families are defined here:
  // call it before the framework's options are parsed. Requires: no other
  // thread of the agent running, or metricsLogListLock held.
  static void attachSinks();

  // The data computer, owned by the dispatcher: made by init, attached as the
  // situations stage and handed to the ZEPMATT table; null before init and
  // after stop.
  static ZEPDC_DataComputer* dataComputer();

  static pthread_t dispatchThread;
  static std::atomic<int> fTerminate;
};

extern "C" void* ZEPDISP_dispatcher_dispatch(void*);

#endif  // ZEP_RUNTIME_ZEPDISP_H_
