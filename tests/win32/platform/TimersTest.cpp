// TTimer and TTimeCounter: ticks come only through the pump; the counter runs
// out at the tick that brings it to zero; restarting only resets the count.
#include "platform/Timers.h"

#include "PumpUntil.h"

#include <gtest/gtest.h>

TEST(Timer, DefaultsAndWhenThePlatformTimerIsSet) {
  TTimer timer;
  EXPECT_TRUE(timer.Enabled());
  EXPECT_EQ(timer.Interval(), 1000);
  EXPECT_NE(timer.WindowHandle(), nullptr);
  EXPECT_FALSE(timer.Running()) << "no OnTimer, no platform timer";

  timer.SetOnTimer([](TObject*) {});
  EXPECT_TRUE(timer.Running());
  timer.SetInterval(0);
  EXPECT_FALSE(timer.Running()) << "interval 0 never ticks";
  timer.SetInterval(500);
  EXPECT_TRUE(timer.Running());
  timer.SetEnabled(false);
  EXPECT_FALSE(timer.Running());
  timer.SetEnabled(false);
  EXPECT_FALSE(timer.Running());
  timer.SetOnTimer(nullptr);
  timer.SetEnabled(true);
  EXPECT_FALSE(timer.Running());
}

TEST(Timer, TicksArriveOnlyThroughThePump) {
  int ticks = 0;
  TObject* sender = nullptr;
  TTimer timer;
  timer.SetInterval(20);
  timer.SetOnTimer([&](TObject* s) {
    ++ticks;
    sender = s;
  });
  Sleep(150);  // several periods without pumping
  EXPECT_EQ(ticks, 0);
  ASSERT_TRUE(PumpUntil([&] { return ticks > 0; }));
  EXPECT_EQ(sender, &timer);
  timer.SetEnabled(false);
  int after = ticks;
  PumpUntil([] { return false; }, 100);
  EXPECT_EQ(ticks, after);
}

TEST(Timer, AFailingTickDoesNotEscapeThePump) {
  int ticks = 0;
  TTimer timer;
  timer.SetInterval(10);
  timer.SetOnTimer([&](TObject*) {
    ++ticks;
    throw std::runtime_error("tick failed");
  });
  EXPECT_NO_THROW(ASSERT_TRUE(PumpUntil([&] { return ticks >= 2; })));
}

TEST(Timer, OwnerDestroysOwnedTimers) {
  auto* owner = new TComponent(nullptr);
  auto* timer = new TTimer(owner);
  EXPECT_EQ(timer->Owner(), owner);
  ASSERT_EQ(owner->ComponentCount(), 1);
  HWND window = timer->WindowHandle();
  delete owner;
  EXPECT_FALSE(IsWindow(window));
}

TEST(TimeCounter, StartsStoppedWithSixtySeconds) {
  TTimeCounter counter;
  EXPECT_EQ(counter.TimeOut, 60);
  EXPECT_FALSE(counter.TimedOut);
  EXPECT_FALSE(counter.Timer->Enabled());
  EXPECT_EQ(counter.Timer->Interval(), 1000);
  counter.Start();
  EXPECT_EQ(counter.Remaining, 60);
  EXPECT_TRUE(counter.Timer->Running());
  counter.Stop();
  EXPECT_FALSE(counter.Timer->Running());
}

// TimeOut 0 and 1 both run out at the first tick, and not before it.
TEST(TimeCounter, ZeroAndOneRunOutAtTheFirstTick) {
  for (int timeOut : {0, 1}) {
    TTimeCounter counter;
    counter.TimeOut = timeOut;
    counter.Start();
    EXPECT_FALSE(counter.TimedOut);
    ASSERT_TRUE(PumpUntil([&] { return counter.Remaining != timeOut; }, 5000));
    EXPECT_EQ(counter.Remaining, timeOut - 1);
    EXPECT_TRUE(counter.TimedOut) << "TimeOut " << timeOut;
  }
}

TEST(TimeCounter, CountsDownOneTickAtATimeAndKeepsTheFlag) {
  TTimeCounter counter;
  counter.TimeOut = 2;
  counter.Start();
  ASSERT_TRUE(PumpUntil([&] { return counter.Remaining == 1; }, 5000));
  EXPECT_FALSE(counter.TimedOut);
  ASSERT_TRUE(PumpUntil([&] { return counter.Remaining == 0; }, 5000));
  EXPECT_TRUE(counter.TimedOut);
  // Start does not clear the flag; only the owner does.
  counter.Start();
  EXPECT_EQ(counter.Remaining, 2);
  EXPECT_TRUE(counter.TimedOut);
}

TEST(TimeCounter, StartOnARunningCounterOnlyResetsTheCount) {
  TTimeCounter counter;
  counter.TimeOut = 5;
  counter.Start();
  ASSERT_TRUE(PumpUntil([&] { return counter.Remaining == 4; }, 5000));
  counter.Start();
  EXPECT_EQ(counter.Remaining, 5);
  EXPECT_TRUE(counter.Timer->Running());
  ASSERT_TRUE(PumpUntil([&] { return counter.Remaining == 4; }, 5000));
  EXPECT_FALSE(counter.TimedOut);
}

TEST(TimeCounter, NoTickWithoutPumpingOrAfterStop) {
  TTimeCounter counter;
  counter.TimeOut = 1;
  counter.Start();
  Sleep(1300);  // more than a period, no pump
  EXPECT_EQ(counter.Remaining, 1);
  EXPECT_FALSE(counter.TimedOut);
  counter.Stop();
  PumpUntil([] { return false; }, 1300);
  EXPECT_FALSE(counter.TimedOut);
}

TEST(TimeCounter, RestartGivesAFullCountRunningOrNot) {
  TTimeCounter counter;
  counter.TimeOut = 3;
  counter.Restart();  // a stopped counter starts
  EXPECT_EQ(counter.Remaining, 3);
  EXPECT_TRUE(counter.Timer->Running());
  ASSERT_TRUE(PumpUntil([&] { return counter.Remaining == 2; }, 5000));
  counter.Restart();
  EXPECT_EQ(counter.Remaining, 3);
  EXPECT_TRUE(counter.Timer->Running());
  ASSERT_TRUE(PumpUntil([&] { return counter.Remaining == 2; }, 5000));
  EXPECT_FALSE(counter.TimedOut);
}
