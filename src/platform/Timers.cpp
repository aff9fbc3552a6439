#include "platform/Timers.h"

#include "codecs/Exception.h"

#include <climits>
#include <string>

namespace {
const UINT_PTR TimerId = 1;
}

TTimer::TTimer(TComponent* AOwner) : TComponent(AOwner) {}

TTimer::~TTimer() { ReleaseWindow(); }

HWND TTimer::WindowHandle() {
  // One left by another thread cannot carry this thread's timer.
  if (OfAnotherThread(FWindowHandle)) {
    const bool enabled = FEnabled;
    ReleaseWindow();
    FEnabled = enabled;
  }
  if (!FWindowHandle) FWindowHandle = CreateUtilityWindow([this](TMessageRecord& message) { WndProc(message); });
  return FWindowHandle;
}

void TTimer::ReleaseWindow() {
  FEnabled = false;
  FRunning = false;
  if (!FWindowHandle) return;
  KillTimer(FWindowHandle, TimerId);
  DestroyUtilityWindow(FWindowHandle);
  FWindowHandle = nullptr;
}

void TTimer::SetEnabled(bool value) {
  if (value == FEnabled) return;
  FEnabled = value;
  UpdateTimer();
}

void TTimer::SetInterval(int value) {
  if (value == FInterval) return;
  FInterval = value;
  UpdateTimer();
}

void TTimer::SetOnTimer(TNotifyEvent value) {
  FOnTimer = std::move(value);
  UpdateTimer();
}

void TTimer::RestartPeriod() {
  if (!FRunning) return;
  if (SetTimer(FWindowHandle, TimerId, static_cast<UINT>(FInterval), nullptr) == 0) {
    FRunning = false;
    throw EOutOfResources("Not enough timers available");
  }
}

void TTimer::Tick() {
  if (FOnTimer) FOnTimer(this);
}

void TTimer::UpdateTimer() {
  if (FWindowHandle) KillTimer(FWindowHandle, TimerId);
  FRunning = false;
  if (FInterval != 0 && FEnabled && FOnTimer) {
    // Without its window the timer could never tick; report it as the
    // platform refusing the timer.
    if (!WindowHandle() || SetTimer(FWindowHandle, TimerId, static_cast<UINT>(FInterval), nullptr) == 0)
      throw EOutOfResources("Not enough timers available");
    FRunning = true;
  }
}

void TTimer::WndProc(TMessageRecord& message) {
  if (message.Msg != WM_TIMER) {
    message.Result = DefWindowProcA(FWindowHandle, message.Msg, message.WParam, message.LParam);
    return;
  }
  // An error of a tick never leaves the handler: it would unwind through the
  // message pump of whatever wait is running.
  try {
    Tick();
  } catch (...) {
    if (HWND capture = GetCapture()) SendMessageA(capture, WM_CANCELMODE, 0, 0);
    try {
      throw;
    } catch (const std::exception& error) {
      OutputDebugStringA((std::string("Timer event failed: ") + error.what()).c_str());
    } catch (...) {
      OutputDebugStringA("Timer event failed");
    }
  }
}

TTimeCounter::TTimeCounter() : Timer(new TTimer(nullptr)) {
  Timer->SetEnabled(false);
  TimeOut = 60;
  Timer->SetOnTimer([this](TObject* sender) { Tick(sender); });
}

TTimeCounter::~TTimeCounter() = default;

void TTimeCounter::Start() {
  Remaining = TimeOut;
  Timer->SetEnabled(true);
}

void TTimeCounter::Stop() { Timer->SetEnabled(false); }

void TTimeCounter::Restart() {
  Remaining = TimeOut;
  if (Timer->Running())
    Timer->RestartPeriod();
  else
    Timer->SetEnabled(true);
}

void TTimeCounter::Tick(TObject*) {
  if (Remaining > INT_MIN) --Remaining;
  if (Remaining <= 0) TimedOut = true;
}
