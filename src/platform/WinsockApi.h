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

  explicit TWinsockApi(const std::string& libraryName = DefaultLibraryName);
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
  void Unload();
  // Raises "Winsock is not loaded" or "Function <name> not found".
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
  std::string FLibraryName;
  std::atomic<HMODULE> FHandle{nullptr};
  TCriticalSection FLoadLock;
  TCriticalSection FStartupLock;
};

// The process-wide binding, loaded when the module initialises. A failed load
// leaves it unloaded (IsLoaded false) rather than failing static start-up; the
// module's entry point refuses to come up in that case.
extern TWinsockApi WinsockApi;

// Fields of the second parameter of an asynchronous notice.
int16_t GetAsyncError(LPARAM lParam);   // high 16 bits: the error code, 0 on success
int16_t GetSelectEvent(LPARAM lParam);  // low 16 bits: the network event (or buffer length)
