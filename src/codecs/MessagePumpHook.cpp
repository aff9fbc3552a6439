#include "codecs/MessagePumpHook.h"

namespace {
TMessagePumpProc g_pump = nullptr;
}  // namespace

void SetMessagePumpHook(TMessagePumpProc proc) { g_pump = proc; }

TMessagePumpProc GetMessagePumpHook() { return g_pump; }

void RunMessagePumpHook() {
  if (g_pump) g_pump();
}
