// The codecs are portable and cannot call the platform's PumpMessages
// directly; the platform layer installs it here, and the
// quoted-printable decoder runs one pass through this hook.
#pragma once

using TMessagePumpProc = void (*)();

// Installs the one-pass pump (null removes it). Process-wide; set once at
// start-up, before any decoding runs.
void SetMessagePumpHook(TMessagePumpProc proc);
TMessagePumpProc GetMessagePumpHook();
// Runs one pass of the installed pump; does nothing when none is installed.
void RunMessagePumpHook();
