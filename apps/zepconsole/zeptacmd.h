// Test console: a developer's terminal for the foundation classes and the
// action commands, without the framework.
//
// testmain runs the console on standard input and output (the zepconsole
// executable calls it): a menu of property, conversion, path, table and
// action-command commands. ZEPTACMD_testActionCommand::testActions runs the
// action commands of a file in batch and prints how many changed the
// configuration, changed nothing, or were rejected.
//
// Thread-safety: testActions takes configPropertiesLock around each command;
// testmain is meant for one thread.
#ifndef ZEP_APPS_ZEPCONSOLE_ZEPTACMD_H_
#define ZEP_APPS_ZEPCONSOLE_ZEPTACMD_H_

class ZEPPROPS_properties;

class ZEPTACMD_testActionCommand {
 public:
  ZEPTACMD_testActionCommand() = delete;

  // Runs every line of `fileName` that is neither empty nor a comment ("#"
  // or "!" first) as an action command against `props`, printing a blank
  // line after each, then "Results:" with the success, no-change and error
  // counts. Prints "Input stream not open." when the file cannot be opened.
  static void testActions(const char* fileName, ZEPPROPS_properties& props);
};

// The console's entry point. Initialises the log dispatcher once, runs the
// menu until END (or the end of standard input), stops the dispatcher's
// threads and returns 0.
int testmain(int argc, char** argv);

#endif  // ZEP_APPS_ZEPCONSOLE_ZEPTACMD_H_
