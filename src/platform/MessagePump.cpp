#include "platform/MessagePump.h"

#include "codecs/MessagePumpHook.h"

namespace {

// What a thread's pump scopes share; it exists only while one is open.
struct TPumpState {
  int Depth = 0;
  bool QuitKept = false;
  WPARAM QuitCode = 0;
};

// The thread's state lives in a slot of the module's own, freed when the
// module unloads.
class TPumpSlot {
public:
  TPumpSlot() : FIndex(TlsAlloc()) {}
  ~TPumpSlot() {
    if (FIndex != TLS_OUT_OF_INDEXES) TlsFree(FIndex);
  }
  TPumpSlot(const TPumpSlot&) = delete;
  TPumpSlot& operator=(const TPumpSlot&) = delete;

  TPumpState* Get() const {
    return FIndex == TLS_OUT_OF_INDEXES ? nullptr : static_cast<TPumpState*>(TlsGetValue(FIndex));
  }
  void Set(TPumpState* state) const {
    if (FIndex != TLS_OUT_OF_INDEXES) TlsSetValue(FIndex, state);
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
  TPumpState* state = PumpSlot().Get();
  if (state) {
    state->QuitKept = true;
    state->QuitCode = code;  // a later quit's code replaces an earlier one's, as in the queue
  } else {
    PostQuitMessage(static_cast<int>(code));
  }
}

}  // namespace

TPumpScope::TPumpScope() {
  const TPumpSlot& slot = PumpSlot();
  TPumpState* state = slot.Get();
  if (!state && slot.Usable()) {
    state = new TPumpState;
    slot.Set(state);
  }
  if (state) ++state->Depth;
}

TPumpScope::~TPumpScope() {
  const TPumpSlot& slot = PumpSlot();
  TPumpState* state = slot.Get();
  if (!state || --state->Depth > 0) return;
  slot.Set(nullptr);
  if (state->QuitKept) PostQuitMessage(static_cast<int>(state->QuitCode));
  delete state;
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
