// Run-time binding of the socket library. Nothing links against it: the
// library is loaded by name and every entry point is looked up by name at the
// moment of the call, so a library lacking one entry point fails only the
// operation that needs it.
#pragma once

#include "codecs/Exception.h"
#include "platform/CriticalSection.h"

#include <windows.h>
#include <winsock.h>

#include <atomic>
#include <cstdint>
#include <string>

// A library or entry point that cannot be bound.
class EWinsockDLLError : public Exception {
public:
  using Exception::Exception;
};

// The binding's own texts (also codes 57010 to 57012 of the message table).
extern const char* const SWinsockNotFound;     // "Winsock not found"
extern const char* const SWinsockNotLoaded;    // "Winsock is not loaded"
extern const char* const SFunctionNotFound;    // "Function %s not found"

class TWinsockApi {
public:
  static const char* const DefaultLibraryName;  // "wsock32.dll"

  // When the library is loaded: at once by the constructor (a failure leaves
  // the binding unloaded), or by the first call that needs it.
  enum TBinding { BindNow, BindOnFirstUse };

  explicit TWinsockApi(const std::string& libraryName = DefaultLibraryName, TBinding binding = BindNow);
  // A binding made to load on first use belongs to the module and frees
  // nothing here: at module unload freeing a library is unsafe, and at
  // process end pointless. Others free their library.
  ~TWinsockApi();
  TWinsockApi(const TWinsockApi&) = delete;
  TWinsockApi& operator=(const TWinsockApi&) = delete;

  // The library Load binds. Tests bind a stand-in library through it; change
  // it only while unloaded.
  const std::string& LibraryName() const { return FLibraryName; }
  void SetLibraryName(const std::string& name) { FLibraryName = name; }

  // Load and Unload may come from several threads at once (a script setting
  // WinsockLoaded): they take the binding's lock, so the library is loaded
  // once and freed once. Unloading while another thread's connection is
  // working still fails that connection's next call ("Winsock is not loaded").
  bool IsLoaded() const;
  // Raises EWinsockDLLError "Winsock not found" when the library cannot be loaded.
  void Load();
  // Unloaded this way, the library stays unloaded until Load.
  void Unload();
  // For a binding that loads on first use: loads the library now, quietly;
  // a failure is left to the first call, which reports it.
  void Prepare();
  // Frees the library while nothing uses it; the next call that needs it
  // loads it again. Once a lookup has been cancelled the library stays: the
  // lookup may still be running inside it, on a thread of its own.
  void ReleaseUnused();
  // Raises "Winsock not found", "Winsock is not loaded" or "Function <name> not found".
  FARPROC GetProc(const char* name) const;
  HMODULE Handle() const { return FHandle.load(); }

  // The nineteen wrappers: arguments and results pass through unchanged.
  int closesocket(SOCKET s);
  int connect(SOCKET s, const sockaddr* name, int namelen);
  u_short htons(u_short hostshort);
  unsigned long inet_addr(const char* cp);
  int recv(SOCKET s, char* buf, int len, int flags);
  int send(SOCKET s, const char* buf, int len, int flags);
  SOCKET socket(int af, int type, int protocol);
  hostent* gethostbyname(const char* name);
  int gethostname(char* name, int namelen);
  servent* getservbyname(const char* name, const char* proto);
  int WSAStartup(WORD wVersionRequired, WSADATA* lpWSAData);
  int WSACleanup();
  int WSAGetLastError();
  BOOL WSAIsBlocking();
  int WSACancelBlockingCall();
  HANDLE WSAAsyncGetServByName(HWND hWnd, u_int wMsg, const char* name, const char* proto, char* buf,
                               int buflen);
  HANDLE WSAAsyncGetHostByName(HWND hWnd, u_int wMsg, const char* name, char* buf, int buflen);
  int WSACancelAsyncRequest(HANDLE hAsyncTaskHandle);
  int WSAAsyncSelect(SOCKET s, HWND hWnd, u_int wMsg, long lEvent);

private:
  // The handle, loading the library first when the binding loads on use.
  HMODULE Bound() const;

  std::string FLibraryName;
  std::atomic<HMODULE> FHandle{nullptr};
  // Set while a call that finds the library unloaded loads it.
  std::atomic<bool> FLoadOnUse{false};
  // Set by the first cancelled lookup: the library is not released.
  std::atomic<bool> FLookupCancelled{false};
  const TBinding FBinding;
  TCriticalSection FLoadLock;
  TCriticalSection FStartupLock;
};

// The process-wide binding. Nothing is loaded while the module loads: the
// first connection loads the library, and a library that cannot be loaded
// fails each request with "Winsock not found".
extern TWinsockApi WinsockApi;

// Fields of the second parameter of an asynchronous notice.
int16_t GetAsyncError(LPARAM lParam);   // high 16 bits: the error code, 0 on success
int16_t GetSelectEvent(LPARAM lParam);  // low 16 bits: the network event (or buffer length)
