#include "codecs/MessagePumpHook.h"

#include <atomic>

namespace {
// Read by every thread that decodes; atomic so that no thread can see a torn
// or stale value should the hook ever be set while others run.
std::atomic<TMessagePumpProc> g_pump{nullptr};
}  // namespace

void SetMessagePumpHook(TMessagePumpProc proc) { g_pump = proc; }

TMessagePumpProc GetMessagePumpHook() { return g_pump; }

void RunMessagePumpHook() {
  if (TMessagePumpProc pump = g_pump) pump();
}
