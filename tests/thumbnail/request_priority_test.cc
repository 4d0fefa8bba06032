// Background requests (pre-generation) against interactive ones: the job
// slots with --jobs and the gate in front of the provider lock without.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "support/ql_wait_until.h"
#include "thumbnail/ql_background_gate.h"
#include "thumbnail/ql_job_slots.h"

namespace {

using std::chrono::milliseconds;

TEST(RequestPriorityTest, BackgroundLeavesOneSlotFreeAndYieldsToWaitingInteractive) {
  {
    QLJobSlots slots(3);
    QLJobSlots::Slot first(&slots, milliseconds(0), true);
    QLJobSlots::Slot second(&slots, milliseconds(0), true);
    QLJobSlots::Slot third(&slots, milliseconds(20), true);
    EXPECT_TRUE(first.held() && second.held());
    EXPECT_FALSE(third.held()) << "the last slot is kept for interactive requests";
    QLJobSlots::Slot person(&slots, milliseconds(20));
    EXPECT_TRUE(person.held());
  }
  // One slot, held; an interactive and a background request wait for it.
  QLJobSlots slots(1);
  auto held = std::make_unique<QLJobSlots::Slot>(&slots);
  std::atomic<int> first_in{0};
  auto take = [&](bool background, int name) {
    QLJobSlots::Slot slot(&slots, milliseconds(0), background);
    int expected = 0;
    first_in.compare_exchange_strong(expected, name);
  };
  std::thread sweep(take, true, 2);
  ASSERT_TRUE(WaitUntil([&] { return slots.waiting() == 1; }, 5000));
  std::thread person(take, false, 1);
  ASSERT_TRUE(WaitUntil([&] { return slots.waiting() == 2; }, 5000));
  held.reset();
  person.join();
  sweep.join();
  EXPECT_EQ(1, first_in.load()) << "the interactive request goes first";
  EXPECT_EQ(1u, slots.peak_in_use());
}

TEST(RequestPriorityTest, GateHoldsBackgroundWhileInteractiveWaitsAndLetsOneInAtATime) {
  QLBackgroundGate gate;
  {
    QLBackgroundGate::Pass person(&gate, false, milliseconds(0));
    QLBackgroundGate::Pass sweep(&gate, true, milliseconds(20));
    EXPECT_FALSE(sweep.admitted()) << "a person is waiting for the lock";
    person.Locked();
    QLBackgroundGate::Pass after(&gate, true, milliseconds(20));
    EXPECT_TRUE(after.admitted()) << "the person holds the lock: the sweep may queue behind";
    {
      QLBackgroundGate::Pass second(&gate, true, milliseconds(20));
      EXPECT_FALSE(second.admitted()) << "one background request at the lock at a time";
    }
    QLBackgroundGate::Pass third(&gate, true, milliseconds(20));
    EXPECT_FALSE(third.admitted()) << "a pass that gave up gave back no place";
  }
  QLBackgroundGate::Pass later(&gate, true, milliseconds(20));
  EXPECT_TRUE(later.admitted()) << "every pass gave its place back";
}

}  // namespace
