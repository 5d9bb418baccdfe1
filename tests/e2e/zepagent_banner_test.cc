// Starts the real agent binary on a private install directory, reads its
// banner and start-up trace, stops it with SIGTERM and checks that it ends
// cleanly.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "foundation/zeptestdir.h"

extern char** environ;

namespace {

const char kBannerHead[] = "Zephyr Service Monitor\n";
const char kBannerTail[] = "\nBuild ID: 200603281600\n";

// A child process whose standard output and error are read through pipes.
class Child {
 public:
  Child(const std::vector<std::string>& args, const std::vector<std::string>& extra_env) {
    int out[2], err[2];
    if (pipe(out) != 0 || pipe(err) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    posix_spawn_file_actions_addclose(&actions, err[0]);
    std::vector<std::string> env_text = extra_env;
    for (char** e = environ; *e != nullptr; ++e) env_text.push_back(*e);
    std::vector<char*> argv, envp;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    for (const std::string& e : env_text) envp.push_back(const_cast<char*>(e.c_str()));
    argv.push_back(nullptr);
    envp.push_back(nullptr);
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    close(err[1]);
    fds_[0] = out[0];
    fds_[1] = err[0];
  }
  ~Child() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    for (int fd : fds_) {
      if (fd >= 0) close(fd);
    }
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  bool started() const { return pid_ > 0; }

  // Reads both outputs until `done` holds or both reach their end. Returns
  // the value of `done` at that point.
  bool ReadUntil(const std::function<bool()>& done) {
    while (!done()) {
      struct pollfd p[2] = {{fds_[0], POLLIN, 0}, {fds_[1], POLLIN, 0}};
      if (fds_[0] < 0 && fds_[1] < 0) return false;
      if (poll(p, 2, -1) < 0) return false;
      for (int i = 0; i < 2; ++i) {
        if (fds_[i] < 0 || p[i].revents == 0) continue;
        char buf[4096];
        const ssize_t n = read(fds_[i], buf, sizeof buf);
        if (n <= 0) {
          close(fds_[i]);
          fds_[i] = -1;
        } else {
          (i == 0 ? out_ : err_).append(buf, static_cast<size_t>(n));
        }
      }
    }
    return true;
  }

  // Sends `sig`, reads the outputs to their end and returns the wait status.
  int Stop(int sig) {
    kill(pid_, sig);
    ReadUntil([] { return false; });
    int status = -1;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    return status;
  }

  const std::string& out() const { return out_; }
  const std::string& err() const { return err_; }

 private:
  pid_t pid_ = -1;
  int fds_[2] = {-1, -1};
  std::string out_, err_;
};

TEST(ZepAgentEndToEnd, BannerTraceAndCleanStopOnSigterm) {
  ZepTestDir root;
  ASSERT_EQ(0, mkdir(root.path("etc").c_str(), 0755));
  ASSERT_EQ(0, mkdir(root.path("install").c_str(), 0755));
  root.write("etc/ZEPBaseDirConfig.properties", "INSTALLDIR=" + root.path("install") + "\n");

  Child agent({std::string(ZEP_BUILD_DIR) + "/zepagent", "--listen", "none"},
              {"ZEP_ETC_DIR=" + root.path("etc")});
  ASSERT_TRUE(agent.started());

  // The trace records come before the banner, the banner before the
  // dispatcher starts; the framework handles SIGTERM from its binding on.
  ASSERT_TRUE(agent.ReadUntil([&] {
    return agent.out().find(kBannerTail) != std::string::npos &&
           agent.err().find("Agent name is") != std::string::npos;
  })) << agent.err();
  EXPECT_NE(std::string::npos, agent.err().find("ZEPAGENT Build ID: 200603281600"));

  const int status = agent.Stop(SIGTERM);
  ASSERT_TRUE(WIFEXITED(status)) << "status " << status << "\n" << agent.err();
  EXPECT_EQ(0, WEXITSTATUS(status)) << agent.err();

  // Standard output carries the banner and nothing else.
  const std::string& out = agent.out();
  EXPECT_EQ(0u, out.rfind(kBannerHead, 0)) << out;
  ASSERT_GT(out.size(), std::strlen(kBannerHead) + std::strlen(kBannerTail));
  EXPECT_EQ(out.size() - std::strlen(kBannerTail), out.find(kBannerTail)) << out;
}

TEST(ZepAgentEndToEnd, UnknownFrameworkOptionExitsWithStatusTwo) {
  ZepTestDir root;
  Child agent({std::string(ZEP_BUILD_DIR) + "/zepagent", "--no-such-option"},
              {"ZEP_ETC_DIR=" + root.dir()});
  ASSERT_TRUE(agent.started());
  agent.ReadUntil([] { return false; });
  const int status = agent.Stop(0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(2, WEXITSTATUS(status));
  EXPECT_TRUE(agent.out().empty());  // no banner: the agent never started
}

}  // namespace
