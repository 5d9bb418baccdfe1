// End to end and concurrent: operators query every table and send action
// commands from several threads while the simulator keeps files arriving.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "e2e/zepagent_process.h"

namespace {

using e2e::Agent;
using e2e::kBuild;
using e2e::Simulate;

TEST(OperatorApiConcurrencyTest, QueriesAndCommandsDuringIngestionAllSucceed) {
  e2e::TempDir tmp;
  Agent agent(tmp.path(), {});
  ASSERT_TRUE(agent.Up()) << agent.child().Err();
  ASSERT_EQ(Simulate("--dir " + agent.dir().logs + " --servers 2 --count 10"), 0);
  ASSERT_TRUE(e2e::Eventually(30, [&] { return agent.Subnodes().size() == 2; }));
  // Keep files arriving while the requests run.
  e2e::Child sim({kBuild + "/zepdcsim", "--dir", agent.dir().logs, "--servers", "2", "--rate",
                  "400", "--per-file", "100", "--seed", "5"},
                 {}, tmp.path() + "/sim.out", tmp.path() + "/sim.err");
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  const char* const kTargets[] = {"/api/v1/tables/ZEPSMT", "/api/v1/tables/ZEPINV",
                                  "/api/v1/tables/ZEPFLCT", "/api/v1/tables/ZEPDCMT",
                                  "/api/v1/tables/ZEPDCT",  "/api/v1/tables/ZEPMATT",
                                  "/api/v1/subnodes"};
  for (int t = 0; t < 6; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 25; ++i) {
        e2e::HttpReply r =
            (t % 3 == 2)
                ? agent.Post("/api/v1/actions",
                             i % 2 ? "updateLogging;appsrv01;Granite_Application_Server;"
                                     "host01.example.com;Info"
                                   : "updateLogging;appsrv02;Quill_Runtime;host02.example.com;"
                                     "Warning")
                : agent.Get(kTargets[(t + i) % 7]);
        if (r.status != 200) ++failures;
      }
    });
  }
  for (std::thread& th : threads) th.join();
  sim.Signal(SIGTERM);
  EXPECT_EQ(sim.Wait(30), 0);
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(agent.Get("/healthz").status, 200);
  // A clean stop: under ThreadSanitizer a race in the agent makes it 66.
  agent.child().Signal(SIGTERM);
  EXPECT_EQ(agent.child().Wait(30), 0) << agent.child().Err();
}

}  // namespace
