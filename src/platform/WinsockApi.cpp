#include "platform/WinsockApi.h"

#include "platform/SystemLibrary.h"

#include <cstdio>

const char* const SWinsockNotFound = "Winsock not found";
const char* const SWinsockNotLoaded = "Winsock is not loaded";
const char* const SFunctionNotFound = "Function %s not found";
const char* const TWinsockApi::DefaultLibraryName = "wsock32.dll";

namespace {

[[noreturn]] void RaiseFunctionNotFound(const char* name) {
  char text[160];
  std::snprintf(text, sizeof text, SFunctionNotFound, name);
  throw EWinsockDLLError(text);
}

// Handles 0 to 32 are the legacy module-loading error range.
bool IsValidModule(HMODULE handle) { return reinterpret_cast<uintptr_t>(handle) > 32; }

// Looks an entry point up and calls it with the wrapper's own argument types.
template <typename Fn>
Fn Entry(const TWinsockApi& api, const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(api.GetProc(name)));
}

}  // namespace

TWinsockApi::TWinsockApi(const std::string& libraryName, TBinding binding)
    : FLibraryName(libraryName), FLoadOnUse(binding == BindOnFirstUse), FBinding(binding) {
  if (binding == BindOnFirstUse) return;
  // A constructor cannot report the error: a library that does not load
  // leaves the binding unloaded, and its calls say so.
  try {
    Load();
  } catch (const EWinsockDLLError&) {
  }
}

TWinsockApi::~TWinsockApi() {
  if (FBinding == BindNow) Unload();
}

bool TWinsockApi::IsLoaded() const { return IsValidModule(FHandle.load()); }

void TWinsockApi::Load() {
  TLockGuard guard(FLoadLock);
  if (IsLoaded()) return;
  HMODULE handle = LoadSystemLibrary(FLibraryName.c_str());
  if (!IsValidModule(handle)) {
    FHandle = nullptr;
    throw EWinsockDLLError(SWinsockNotFound);
  }
  FHandle = handle;
}

void TWinsockApi::Unload() {
  TLockGuard guard(FLoadLock);
  FLoadOnUse = false;
  if (HMODULE handle = FHandle.exchange(nullptr)) FreeLibrary(handle);
}

void TWinsockApi::Prepare() {
  if (IsLoaded() || !FLoadOnUse) return;
  try {
    Load();
  } catch (const EWinsockDLLError&) {
  }
}

void TWinsockApi::ReleaseUnused() {
  TLockGuard guard(FLoadLock);
  if (FLookupCancelled) return;
  if (HMODULE handle = FHandle.exchange(nullptr)) {
    FLoadOnUse = true;
    FreeLibrary(handle);
  }
}

HMODULE TWinsockApi::Bound() const {
  // One read of the handle: an Unload on another thread between a check and
  // the lookup must not pass a freed handle on.
  HMODULE handle = FHandle.load();
  if (IsValidModule(handle) || !FLoadOnUse) return handle;
  const_cast<TWinsockApi*>(this)->Load();
  return FHandle.load();
}

FARPROC TWinsockApi::GetProc(const char* name) const {
  HMODULE handle = Bound();
  if (!IsValidModule(handle)) throw EWinsockDLLError(SWinsockNotLoaded);
  FARPROC proc = GetProcAddress(handle, name);
  if (!proc) RaiseFunctionNotFound(name);
  return proc;
}

int TWinsockApi::closesocket(SOCKET s) {
  return Entry<int(WINAPI*)(SOCKET)>(*this, "closesocket")(s);
}

int TWinsockApi::connect(SOCKET s, const sockaddr* name, int namelen) {
  return Entry<int(WINAPI*)(SOCKET, const sockaddr*, int)>(*this, "connect")(s, name, namelen);
}

u_short TWinsockApi::htons(u_short hostshort) {
  return Entry<u_short(WINAPI*)(u_short)>(*this, "htons")(hostshort);
}

unsigned long TWinsockApi::inet_addr(const char* cp) {
  // Looked up without the load check: an unloaded binding reports the
  // missing entry point rather than the missing library.
  HMODULE handle = Bound();
  FARPROC proc = handle ? GetProcAddress(handle, "inet_addr") : nullptr;
  if (!proc) RaiseFunctionNotFound("inet_addr");
  return reinterpret_cast<unsigned long(WINAPI*)(const char*)>(reinterpret_cast<void*>(proc))(cp);
}

int TWinsockApi::recv(SOCKET s, char* buf, int len, int flags) {
  return Entry<int(WINAPI*)(SOCKET, char*, int, int)>(*this, "recv")(s, buf, len, flags);
}

int TWinsockApi::send(SOCKET s, const char* buf, int len, int flags) {
  return Entry<int(WINAPI*)(SOCKET, const char*, int, int)>(*this, "send")(s, buf, len, flags);
}

SOCKET TWinsockApi::socket(int af, int type, int protocol) {
  return Entry<SOCKET(WINAPI*)(int, int, int)>(*this, "socket")(af, type, protocol);
}

hostent* TWinsockApi::gethostbyname(const char* name) {
  return Entry<hostent*(WINAPI*)(const char*)>(*this, "gethostbyname")(name);
}

int TWinsockApi::gethostname(char* name, int namelen) {
  return Entry<int(WINAPI*)(char*, int)>(*this, "gethostname")(name, namelen);
}

servent* TWinsockApi::getservbyname(const char* name, const char* proto) {
  return Entry<servent*(WINAPI*)(const char*, const char*)>(*this, "getservbyname")(name, proto);
}

// Start-ups and clean-ups of all threads go one at a time: some socket
// libraries keep their start-up count without a lock, and a count lost to two
// threads at once reaches zero early, which closes every socket of the process
// under the connections of other threads.
int TWinsockApi::WSAStartup(WORD wVersionRequired, WSADATA* lpWSAData) {
  auto startup = Entry<int(WINAPI*)(WORD, WSADATA*)>(*this, "WSAStartup");
  TLockGuard guard(FStartupLock);
  return startup(wVersionRequired, lpWSAData);
}

int TWinsockApi::WSACleanup() {
  auto cleanup = Entry<int(WINAPI*)()>(*this, "WSACleanup");
  TLockGuard guard(FStartupLock);
  return cleanup();
}

int TWinsockApi::WSAGetLastError() { return Entry<int(WINAPI*)()>(*this, "WSAGetLastError")(); }

BOOL TWinsockApi::WSAIsBlocking() { return Entry<BOOL(WINAPI*)()>(*this, "WSAIsBlocking")(); }

int TWinsockApi::WSACancelBlockingCall() {
  return Entry<int(WINAPI*)()>(*this, "WSACancelBlockingCall")();
}

HANDLE TWinsockApi::WSAAsyncGetServByName(HWND hWnd, u_int wMsg, const char* name, const char* proto,
                                          char* buf, int buflen) {
  return Entry<HANDLE(WINAPI*)(HWND, u_int, const char*, const char*, char*, int)>(
      *this, "WSAAsyncGetServByName")(hWnd, wMsg, name, proto, buf, buflen);
}

HANDLE TWinsockApi::WSAAsyncGetHostByName(HWND hWnd, u_int wMsg, const char* name, char* buf,
                                          int buflen) {
  return Entry<HANDLE(WINAPI*)(HWND, u_int, const char*, char*, int)>(
      *this, "WSAAsyncGetHostByName")(hWnd, wMsg, name, buf, buflen);
}

int TWinsockApi::WSACancelAsyncRequest(HANDLE hAsyncTaskHandle) {
  FLookupCancelled = true;
  return Entry<int(WINAPI*)(HANDLE)>(*this, "WSACancelAsyncRequest")(hAsyncTaskHandle);
}

int TWinsockApi::WSAAsyncSelect(SOCKET s, HWND hWnd, u_int wMsg, long lEvent) {
  return Entry<int(WINAPI*)(SOCKET, HWND, u_int, long)>(*this, "WSAAsyncSelect")(s, hWnd, wMsg,
                                                                                 lEvent);
}

TWinsockApi WinsockApi(TWinsockApi::DefaultLibraryName, TWinsockApi::BindOnFirstUse);

int16_t GetAsyncError(LPARAM lParam) {
  return static_cast<int16_t>(static_cast<uint16_t>((static_cast<uintptr_t>(lParam) >> 16) & 0xFFFF));
}

int16_t GetSelectEvent(LPARAM lParam) {
  return static_cast<int16_t>(static_cast<uint16_t>(static_cast<uintptr_t>(lParam) & 0xFFFF));
}
