#include "platform/MessagePump.h"

#include "codecs/MessagePumpHook.h"

namespace {

// The outermost scope's quit, in a slot of the module's own, freed when the
// module unloads.
class TPumpSlot {
public:
  TPumpSlot() : FIndex(TlsAlloc()) {}
  ~TPumpSlot() {
    if (FIndex != TLS_OUT_OF_INDEXES) TlsFree(FIndex);
  }
  TPumpSlot(const TPumpSlot&) = delete;
  TPumpSlot& operator=(const TPumpSlot&) = delete;

  TPumpScope::TQuit* Get() const {
    return FIndex == TLS_OUT_OF_INDEXES ? nullptr : static_cast<TPumpScope::TQuit*>(TlsGetValue(FIndex));
  }
  void Set(TPumpScope::TQuit* quit) const {
    if (FIndex != TLS_OUT_OF_INDEXES) TlsSetValue(FIndex, quit);
  }
  bool Usable() const { return FIndex != TLS_OUT_OF_INDEXES; }

private:
  DWORD FIndex;
};

const TPumpSlot& PumpSlot() {
  static const TPumpSlot slot;  // constructed once, even on first use from two threads at once
  return slot;
}

// Passes are bounded so that handlers which keep posting cannot hold one for
// ever; whatever remains is taken by the next pass.
const int MaxMessagesPerPass = 100000;

// A key for the active window's dialog or one of its controls goes to the
// dialog first, as a host's own loop hands it (Tab, mnemonics, Enter).
bool GivenToDialog(MSG& msg) {
  if (msg.message < WM_KEYFIRST || msg.message > WM_KEYLAST || !msg.hwnd) return false;
  HWND active = GetActiveWindow();
  if (!active || (msg.hwnd != active && !IsChild(active, msg.hwnd))) return false;
  const ATOM dialogClass = static_cast<ATOM>(reinterpret_cast<ULONG_PTR>(WC_DIALOG));
  if (GetClassLongPtrW(active, GCW_ATOM) != dialogClass) return false;
  return IsDialogMessageW(active, &msg) != FALSE;
}

// The host's WM_QUIT is its own: kept for the end of the scope, or posted
// again at once when none is open (the pass then ends, so as not to take it
// again).
void KeepQuit(WPARAM code) {
  TPumpScope::TQuit* quit = PumpSlot().Get();
  if (quit) {
    quit->Kept = true;
    quit->Code = code;  // a later quit's code replaces an earlier one's, as in the queue
  } else {
    PostQuitMessage(static_cast<int>(code));
  }
}

}  // namespace

TPumpScope::TPumpScope() {
  const TPumpSlot& slot = PumpSlot();
  if (slot.Get() || !slot.Usable()) return;
  slot.Set(&FQuit);
  FOutermost = true;
}

TPumpScope::~TPumpScope() {
  if (!FOutermost) return;
  PumpSlot().Set(nullptr);
  if (FQuit.Kept) PostQuitMessage(static_cast<int>(FQuit.Code));
}

void PumpMessages() {
  PumpMessagesUntil([] { return false; });
}

// Messages are read and dispatched in Unicode: a character outside the ANSI
// code page survives the read, and DispatchMessageW hands an ANSI window its
// text converted to the window's own width, as the system does for any
// Unicode loop. (Looking at each message's window before removing it, to
// read in that window's width, costs a second trip to the system per
// message: an eighth more per small request.)
void PumpMessagesUntil(const std::function<bool()>& over) {
  MSG msg;
  for (int dispatched = 0; dispatched < MaxMessagesPerPass && PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE);
       ++dispatched) {
    if (msg.message == WM_QUIT) {
      KeepQuit(msg.wParam);
      if (!PumpSlot().Get()) break;
      continue;
    }
    if (!GivenToDialog(msg)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    if (over()) break;
  }
}

void IdleWait(DWORD milliseconds) {
  MsgWaitForMultipleObjects(0, nullptr, FALSE, milliseconds, QS_ALLINPUT);
}

void DiscardMessages(HWND window, UINT first, UINT last) {
  if (!window) return;
  MSG msg;
  for (int removed = 0; removed < MaxMessagesPerPass && PeekMessageA(&msg, window, first, last, PM_REMOVE);
       ++removed) {
  }
}

// The portable decoders pump through a hook; this is the pump they get.
namespace {
const bool PumpHookInstalled = (SetMessagePumpHook(&PumpMessages), true);
}
