// The main loop's wake-up pipe and the signals that use it.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>

#include "axo/process/axo.h"
#include "axo/process/state.h"

namespace axo_internal {
namespace {

// --- shutdown signalling ----------------------------------------------------
//
// A self-pipe: AXO_Shutdown and the signal handlers write one byte, omxmain
// polls the read end: kReloadByte asks for a reload, any other byte for the
// end of the loop. write() is async-signal-safe.
int g_pipe[2] = {-1, -1};
std::once_flag g_pipe_once;

}  // namespace

void MakePipe() {
  std::call_once(g_pipe_once, [] {
    if (pipe(g_pipe) != 0) {
      g_pipe[0] = g_pipe[1] = -1;
      return;
    }
    for (int fd : g_pipe) {
      fcntl(fd, F_SETFD, FD_CLOEXEC);
      fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    }
  });
}

namespace {

constexpr char kStopByte = 1;
constexpr char kReloadByte = 2;

void Wake(char byte) {
  if (g_pipe[1] < 0) return;
  ssize_t rc = write(g_pipe[1], &byte, 1);  // a full pipe already wakes the loop
  (void)rc;
}

}  // namespace

void WakeMainLoop() { Wake(kStopByte); }

extern "C" void OnStopSignal(int sig) {
  int saved = errno;
  Wake(sig == SIGHUP ? kReloadByte : kStopByte);
  errno = saved;
}

// SIGINT and SIGTERM wake the main loop instead of ending the process, and
// SIGHUP asks it for a reload. They are caught from OSB1_Main on, so that a
// signal during the agent's start-up still ends in an orderly return from
// omxmain.
namespace {
struct sigaction g_old_int, g_old_term, g_old_hup;
bool g_handlers_installed = false;  // changed by the main thread only
}  // namespace

// Returns true when this call installed the handlers.
bool InstallStopHandlers() {
  if (g_handlers_installed) return false;
  struct sigaction action = {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, &g_old_int);
  sigaction(SIGTERM, &action, &g_old_term);
  sigaction(SIGHUP, &action, &g_old_hup);
  g_handlers_installed = true;
  return true;
}

void RestoreStopHandlers() {
  if (!g_handlers_installed) return;
  sigaction(SIGINT, &g_old_int, nullptr);
  sigaction(SIGTERM, &g_old_term, nullptr);
  sigaction(SIGHUP, &g_old_hup, nullptr);
  g_handlers_installed = false;
}

void DrainPipe() {
  char buf[64];
  while (g_pipe[0] >= 0 && read(g_pipe[0], buf, sizeof(buf)) > 0) {
  }
}

// Blocks until a stop byte arrives, reloading the options for each reload
// byte on the way.
void WaitForShutdown() {
  if (g_pipe[0] < 0) {
    // Without a pipe there is no way to be woken; sleep until a signal ends us.
    for (;;) pause();
  }
  for (;;) {
    struct pollfd pfd = {g_pipe[0], POLLIN, 0};
    while (poll(&pfd, 1, -1) < 0 && errno == EINTR) {
    }
    char buf[64];
    const ssize_t n = read(g_pipe[0], buf, sizeof(buf));
    if (n <= 0) continue;
    bool reload = false;
    for (ssize_t i = 0; i < n; ++i) {
      if (buf[i] != kReloadByte) return;
      reload = true;
    }
    if (reload) {
      AXO_Notify("RELOADING=1");
      AXO_ReloadOptions();
      AXO_Notify("READY=1");
    }
  }
}

}  // namespace axo_internal
