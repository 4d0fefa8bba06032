#include "main/ql_signal_stopper.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "support/ql_wait_until.h"

namespace {

std::mutex g_calls_mutex;
std::vector<int> g_calls;  // guarded by g_calls_mutex
std::thread::id g_call_thread;
std::atomic<int> g_running(0);
std::atomic<int> g_max_running(0);

void RecordingStop(int signal_number) {
  int const now = ++g_running;
  if (now > g_max_running) g_max_running = now;
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  {
    std::lock_guard<std::mutex> lock(g_calls_mutex);
    g_calls.push_back(signal_number);
    g_call_thread = std::this_thread::get_id();
  }
  --g_running;
}

size_t CallCount() {
  std::lock_guard<std::mutex> lock(g_calls_mutex);
  return g_calls.size();
}

// One test only: the handlers and the thread exist once per process.
TEST(QLSignalStopperTest, SignalsReachTheStopFunctionOnItsOwnThreadInOrder) {
  ASSERT_TRUE(InstallTerminationHandlers());
  ASSERT_TRUE(StartStopperThread(RecordingStop));
  EXPECT_FALSE(StartStopperThread(RecordingStop)) << "only one stopper thread";

  // raise() runs the recording handler on this thread; nothing else may.
  ASSERT_EQ(0, raise(SIGTERM));
  ASSERT_EQ(0, raise(SIGINT));
  ASSERT_EQ(0, raise(SIGQUIT));
  ASSERT_TRUE(WaitUntil([] { return CallCount() == 3; }, 2000));
  {
    std::lock_guard<std::mutex> lock(g_calls_mutex);
    EXPECT_EQ((std::vector<int>{SIGTERM, SIGINT, SIGQUIT}), g_calls);
    EXPECT_NE(std::this_thread::get_id(), g_call_thread);
  }
  EXPECT_EQ(1, g_max_running.load()) << "stop calls must never overlap";

  // Signals recorded before the finish are still handled, then it joins.
  ASSERT_EQ(0, raise(SIGTERM));
  FinishStopperThread();
  EXPECT_EQ(4u, CallCount());
  FinishStopperThread();  // a second finish is harmless

  // After the finish a signal is recorded and ignored; the process lives on.
  ASSERT_EQ(0, raise(SIGTERM));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(4u, CallCount());
}

}  // namespace
