// The agent as a service manager runs it: options from a file re-read on
// SIGHUP, readiness datagrams, trace records with syslog priorities when
// standard error is the journal, the banner alone on standard output and a
// clean stop on SIGTERM.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <csignal>
#include <string>

#include "e2e/zepagent_process.h"

namespace {

using namespace e2e;

// Receives one datagram on `fd`, waiting up to 30 seconds; "" on timeout.
std::string Receive(int fd) {
  struct timeval tv = {30, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv));
  char buf[256];
  ssize_t n = recv(fd, buf, sizeof(buf), 0);
  return n > 0 ? std::string(buf, static_cast<size_t>(n)) : "";
}

TEST(ServiceE2eTest, ReloadsOnHangupNotifiesReadinessAndMarksPriorities) {
  TempDir tmp;
  InstallDir dir(tmp.path(), "zep.axo.logReadSleepTimeSeconds=1\n");
  const std::string conf = tmp.path() + "/zepagent.conf", err = tmp.path() + "/agent.err";
  WriteFile(conf, "# as shipped\nlisten = none\ntrace = all=128\n");

  // The service manager's socket, by an abstract name.
  const std::string name = "@zepagent-e2e-" + std::to_string(getpid());
  int fd = socket(AF_UNIX, SOCK_DGRAM, 0);
  struct sockaddr_un addr = {};
  addr.sun_family = AF_UNIX;
  memcpy(addr.sun_path + 1, name.data() + 1, name.size() - 1);
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&addr),
                 static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + name.size())),
            0);
  WriteFile(err, "");
  struct stat st;
  ASSERT_EQ(stat(err.c_str(), &st), 0);
  const std::string journal = std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);

  Child agent({kBuild + "/zepagent", "--config", conf},
              {"ZEP_ETC_DIR=" + dir.etc, "NOTIFY_SOCKET=" + name, "JOURNAL_STREAM=" + journal},
              tmp.path() + "/agent.out", err);
  EXPECT_EQ(Receive(fd), "READY=1");
  WriteFile(conf, "listen = 127.0.0.1:0\ntrace = ZEPDISP=0xC0\n");
  agent.Signal(SIGHUP);
  EXPECT_EQ(Receive(fd), "RELOADING=1");
  EXPECT_EQ(Receive(fd), "READY=1");
  EXPECT_TRUE(Eventually(30, [&] {
    return agent.Err().find("Entry runOnePass") != std::string::npos;
  })) << agent.Err();
  agent.Signal(SIGTERM);
  EXPECT_EQ(Receive(fd), "STOPPING=1");
  EXPECT_EQ(agent.Wait(30), 0);
  close(fd);
  // Standard output carries the banner and nothing else.
  const std::string out = agent.Out(), tail = "\nBuild ID: 200603281600\n";
  EXPECT_EQ(out.rfind("Zephyr Service Monitor\n", 0), 0u) << out;
  EXPECT_EQ(out.find(tail), out.size() - tail.size()) << out;

  const std::string text = agent.Err();
  for (const std::string line : {"<6>.*ZEPAGENT Build ID", "<6>.*AXO0012I Option trace",
                                 "<4>.*AXO0013W Option listen", "<7>.*Entry runOnePass"}) {
    EXPECT_TRUE(std::regex_search(text, std::regex(line))) << line << "\n" << text;
  }
  EXPECT_FALSE(std::regex_search(text, std::regex("<3>"))) << text;
}

}  // namespace
