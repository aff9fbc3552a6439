// TTimer turns a window timer into an OnTimer event; TTimeCounter counts
// seconds down on one and raises a flag when they run out. Ticks arrive only
// while the owning thread runs PumpMessages. The timer's window is made when
// first needed, on the thread that needs it, and ReleaseWindow gives it up,
// so that an owner used by one thread after another ticks on each in turn.
#pragma once

#include "platform/Component.h"
#include "platform/UtilityWindow.h"

#include <memory>

class TTimer : public TComponent {
public:
  explicit TTimer(TComponent* AOwner = nullptr);
  ~TTimer() override;

  bool Enabled() const { return FEnabled; }
  int Interval() const { return FInterval; }
  const TNotifyEvent& OnTimer() const { return FOnTimer; }
  // The timer's window, made on the calling thread when there is none.
  HWND WindowHandle();
  // Stops the timer (Enabled becomes false) and destroys its window; call on
  // the thread that made it. The next arming makes a new one.
  void ReleaseWindow();
  // A running timer is re-armed (its period restarted) only when the value
  // changes; assigning OnTimer always re-arms. Raise EOutOfResources "Not
  // enough timers available" when the platform refuses the timer.
  void SetEnabled(bool value);
  void SetInterval(int value);
  void SetOnTimer(TNotifyEvent value);
  // Whether the platform timer is set, as of the last re-arm.
  bool Running() const { return FRunning; }
  // Starts the period of a running timer afresh (one platform call: setting
  // the same timer again replaces it); a stopped timer stays stopped.
  void RestartPeriod();

protected:
  // One tick: calls OnTimer when assigned.
  virtual void Tick();

private:
  void UpdateTimer();
  void WndProc(TMessageRecord& Message);

  int FInterval = 1000;
  HWND FWindowHandle = nullptr;
  TNotifyEvent FOnTimer;
  bool FEnabled = true;
  bool FRunning = false;
};

class TTimeCounter : public TObject {
public:
  TTimeCounter();
  ~TTimeCounter() override;
  TTimeCounter(const TTimeCounter&) = delete;
  TTimeCounter& operator=(const TTimeCounter&) = delete;

  // Remaining := TimeOut and the timer enabled. On a running counter only the
  // count is reset; the timer's period goes on, so the next tick may come sooner.
  void Start();
  void Stop();
  // Remaining := TimeOut and a fresh timer period, running or not before.
  void Restart();

  std::unique_ptr<TTimer> Timer;  // 1000 ms ticks
  int Remaining = 0;              // seconds left in the current count
  int TimeOut = 60;               // seconds counted from Start
  bool TimedOut = false;          // set when Remaining reaches 0; cleared by the owner

private:
  void Tick(TObject* Sender);
};
