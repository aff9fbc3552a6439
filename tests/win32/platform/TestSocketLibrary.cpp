// A stand-in socket library for tests. It forwards every entry point to the
// system's socket library except two: it has no WSAAsyncSelect at all, and
// every host lookup completes with 11001 (host not found) without asking any
// resolver, so the unknown-host path runs without a DNS query.
//
// No socket header is included: their declarations of these very names would
// clash with the definitions below.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdint>

namespace {

const int HostNotFound = 11001;

HMODULE SystemLibrary() {
  static HMODULE library = LoadLibraryA("ws2_32.dll");
  return library;
}

template <typename Fn>
Fn Forward(const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(SystemLibrary(), name)));
}

LONG NextLookupHandle = 0x4000;

}  // namespace

#define EXPORT extern "C" __declspec(dllexport)

EXPORT int WINAPI closesocket(UINT_PTR s) { return Forward<int(WINAPI*)(UINT_PTR)>("closesocket")(s); }

EXPORT int WINAPI connect(UINT_PTR s, const void* name, int namelen) {
  return Forward<int(WINAPI*)(UINT_PTR, const void*, int)>("connect")(s, name, namelen);
}

EXPORT uint16_t WINAPI htons(uint16_t value) { return static_cast<uint16_t>((value >> 8) | (value << 8)); }

EXPORT unsigned long WINAPI inet_addr(const char* cp) {
  return Forward<unsigned long(WINAPI*)(const char*)>("inet_addr")(cp);
}

EXPORT int WINAPI recv(UINT_PTR s, char* buf, int len, int flags) {
  return Forward<int(WINAPI*)(UINT_PTR, char*, int, int)>("recv")(s, buf, len, flags);
}

EXPORT int WINAPI send(UINT_PTR s, const char* buf, int len, int flags) {
  return Forward<int(WINAPI*)(UINT_PTR, const char*, int, int)>("send")(s, buf, len, flags);
}

EXPORT UINT_PTR WINAPI socket(int af, int type, int protocol) {
  return Forward<UINT_PTR(WINAPI*)(int, int, int)>("socket")(af, type, protocol);
}

// Synchronous lookups find nothing either.
EXPORT void* WINAPI gethostbyname(const char*) {
  Forward<void(WINAPI*)(int)>("WSASetLastError")(HostNotFound);
  return nullptr;
}

EXPORT int WINAPI gethostname(char* name, int namelen) {
  return Forward<int(WINAPI*)(char*, int)>("gethostname")(name, namelen);
}

EXPORT void* WINAPI getservbyname(const char* name, const char* proto) {
  return Forward<void*(WINAPI*)(const char*, const char*)>("getservbyname")(name, proto);
}

EXPORT int WINAPI WSAStartup(WORD version, void* data) {
  return Forward<int(WINAPI*)(WORD, void*)>("WSAStartup")(version, data);
}

EXPORT int WINAPI WSACleanup() { return Forward<int(WINAPI*)()>("WSACleanup")(); }

EXPORT int WINAPI WSAGetLastError() { return Forward<int(WINAPI*)()>("WSAGetLastError")(); }

EXPORT BOOL WINAPI WSAIsBlocking() { return FALSE; }

EXPORT int WINAPI WSACancelBlockingCall() { return 0; }

EXPORT HANDLE WINAPI WSAAsyncGetServByName(HWND window, UINT msg, const char* name, const char* proto,
                                           char* buf, int buflen) {
  return Forward<HANDLE(WINAPI*)(HWND, UINT, const char*, const char*, char*, int)>(
      "WSAAsyncGetServByName")(window, msg, name, proto, buf, buflen);
}

EXPORT HANDLE WINAPI WSAAsyncGetHostByName(HWND window, UINT msg, const char*, char*, int) {
  HANDLE handle = reinterpret_cast<HANDLE>(static_cast<INT_PTR>(InterlockedIncrement(&NextLookupHandle)));
  PostMessageA(window, msg, reinterpret_cast<WPARAM>(handle), MAKELPARAM(0, HostNotFound));
  return handle;
}

EXPORT int WINAPI WSACancelAsyncRequest(HANDLE) { return 0; }
