// benchhost MODE PROGID URL [ARG]
//   mem  : fetch URL as text (GetURL, or ResponseText for the peers) and print the
//          process's peak memory; "mem Kestrel.Conn URL gzip" with Compression on;
//   decode: benchhost decode FILE ROUNDS: decode the gzip file ROUNDS times with
//          the DLL's decoder and zlib, no network; prints
//          "RESULT decode kestrel seconds bytes" per round;
//   idle : fetch URL from a server that answers late and print the processor
//          time the wait used;
//   raw  : benchhost raw - HOST PORT PATH COUNT: the floor for one HTTP/1.0
//          exchange here: blocking socket calls, one connection per request,
//          no notices, no timers, no script engine;
//   bytes: benchhost bytes Kestrel.Conn URL COUNT: as repeat, but each fetch
//          is kept as bytes (GetURL as a statement, then BinaryData);
//   links: benchhost links Kestrel.Conn URL ROUNDS: fetch URL once, then time
//          GetHREFs ROUNDS times as a compiled client calls it (no script
//          engine converting the returned array); prints
//          "RESULT links kestrel-host seconds anchors" per round.
// Late binding through IDispatch, as a script host does.
#define WIN32_LEAN_AND_MEAN
#include <winsock2.h>
#include <windows.h>
#include <oleauto.h>
#include <psapi.h>

#include "http/ContentDecoding.h"

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

HRESULT Invoke(IDispatch* d, const wchar_t* name, WORD flags, VARIANT* args, UINT argc, VARIANT* result) {
  DISPID id;
  LPOLESTR n = const_cast<LPOLESTR>(name);
  HRESULT hr = d->GetIDsOfNames(IID_NULL, &n, 1, LOCALE_USER_DEFAULT, &id);
  if (FAILED(hr)) return hr;
  DISPID put = DISPID_PROPERTYPUT;
  DISPPARAMS p = {args, nullptr, argc, 0};
  if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) {
    p.rgdispidNamedArgs = &put;
    p.cNamedArgs = 1;
  }
  EXCEPINFO ei = {};
  hr = d->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &p, result, &ei, nullptr);
  if (ei.bstrDescription) {
    fwprintf(stderr, L"%ls: %ls\n", name, ei.bstrDescription);
    SysFreeString(ei.bstrDescription);
  }
  SysFreeString(ei.bstrSource);
  SysFreeString(ei.bstrHelpFile);
  return hr;
}

HRESULT PutString(IDispatch* d, const wchar_t* name, const wchar_t* value) {
  VARIANT v;
  v.vt = VT_BSTR;
  v.bstrVal = SysAllocString(value);
  HRESULT hr = Invoke(d, name, DISPATCH_PROPERTYPUT, &v, 1, nullptr);
  VariantClear(&v);
  return hr;
}

HRESULT PutInt(IDispatch* d, const wchar_t* name, int value) {
  VARIANT v;
  v.vt = VT_I4;
  v.lVal = value;
  return Invoke(d, name, DISPATCH_PROPERTYPUT, &v, 1, nullptr);
}

double Seconds(const FILETIME& f) {
  ULARGE_INTEGER u;
  u.LowPart = f.dwLowDateTime;
  u.HighPart = f.dwHighDateTime;
  return u.QuadPart / 1e7;
}

double CpuSeconds() {
  FILETIME c, e, k, u;
  GetProcessTimes(GetCurrentProcess(), &c, &e, &k, &u);
  return Seconds(k) + Seconds(u);
}

// Fetches url as text; returns the number of characters, -1 on failure.
// Kestrel's GetURL of url, its text kept in result when one is given.
HRESULT KestrelGetURL(IDispatch* d, const wchar_t* url, VARIANT* result) {
  HRESULT hr = PutString(d, L"URL", url);
  if (SUCCEEDED(hr)) hr = PutInt(d, L"TimeOut", 60);
  if (SUCCEEDED(hr))
    hr = Invoke(d, L"GetURL", result ? DISPATCH_METHOD | DISPATCH_PROPERTYGET : DISPATCH_METHOD, nullptr, 0, result);
  return hr;
}

long FetchText(IDispatch* d, bool kestrel, const wchar_t* url) {
  VARIANT r;
  VariantInit(&r);
  if (kestrel) {
    if (FAILED(KestrelGetURL(d, url, &r))) return -1;
  } else {
    VARIANT args[3];
    args[2].vt = VT_BSTR;
    args[2].bstrVal = SysAllocString(L"GET");
    args[1].vt = VT_BSTR;
    args[1].bstrVal = SysAllocString(url);
    args[0].vt = VT_BOOL;
    args[0].boolVal = VARIANT_FALSE;
    HRESULT hr = Invoke(d, L"Open", DISPATCH_METHOD, args, 3, nullptr);
    VariantClear(&args[2]);
    VariantClear(&args[1]);
    if (FAILED(hr) || FAILED(Invoke(d, L"Send", DISPATCH_METHOD, nullptr, 0, nullptr))) return -1;
    if (FAILED(Invoke(d, L"ResponseText", DISPATCH_PROPERTYGET, nullptr, 0, &r))) return -1;
  }
  long n = r.vt == VT_BSTR && r.bstrVal ? static_cast<long>(SysStringLen(r.bstrVal)) : 0;
  VariantClear(&r);
  return n;
}

// Fetches url and takes the body as a byte array; returns its size, -1 on failure.
long FetchBytes(IDispatch* d, const wchar_t* url) {
  if (FAILED(KestrelGetURL(d, url, nullptr))) return -1;
  VARIANT r;
  VariantInit(&r);
  if (FAILED(Invoke(d, L"BinaryData", DISPATCH_PROPERTYGET, nullptr, 0, &r))) return -1;
  long n = -1;
  if (r.vt == (VT_ARRAY | VT_UI1)) {
    LONG upper = -1;
    SafeArrayGetUBound(r.parray, 1, &upper);
    n = upper + 1;
  }
  VariantClear(&r);
  return n;
}

// A new process brings up the prefix's own services (when no other process
// of the prefix runs), which take the processor for a second or two: timing
// starts after them.
void LetThePrefixSettle() { Sleep(2000); }

}  // namespace

// COUNT exchanges with plain blocking calls; prints the time per request.
int RawRequests(const wchar_t* host, int port, const wchar_t* path, int count) {
  WSADATA data;
  WSAStartup(MAKEWORD(2, 2), &data);
  char hostA[64], pathA[512];
  WideCharToMultiByte(CP_ACP, 0, host, -1, hostA, sizeof hostA, nullptr, nullptr);
  WideCharToMultiByte(CP_ACP, 0, path, -1, pathA, sizeof pathA, nullptr, nullptr);
  std::string request = std::string("GET ") + pathA + " HTTP/1.0\r\nHost: " + hostA + "\r\nAccept: */*\r\n\r\n";
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<u_short>(port));
  address.sin_addr.s_addr = inet_addr(hostA);
  char buffer[65536];
  long bytes = 0;
  LetThePrefixSettle();
  DWORD t0 = GetTickCount();
  for (int i = 0; i < count; ++i) {
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    if (connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return 1;
    send(s, request.data(), static_cast<int>(request.size()), 0);
    for (int n; (n = recv(s, buffer, sizeof buffer, 0)) > 0;) bytes += n;
    closesocket(s);
  }
  double secs = (GetTickCount() - t0) / 1000.0;
  printf("raw requests=%d seconds=%.3f ms_per_request=%.3f bytes=%ld\n", count, secs, 1000 * secs / count, bytes);
  WSACleanup();
  return 0;
}

// The decoder alone: a gzip file decoded into memory that is kept between
// rounds, as a body's memory serves the next body.
int DecodeRounds(const wchar_t* path, int rounds) {
  FILE* f = _wfopen(path, L"rb");
  if (!f) return 1;
  std::vector<char> packed;
  char buffer[65536];
  for (size_t n; (n = fread(buffer, 1, sizeof buffer, f)) > 0;) packed.insert(packed.end(), buffer, buffer + n);
  fclose(f);
  std::vector<char> out;
  for (int round = 0; round < rounds; ++round) {
    out.clear();
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    TContentDecoder decoder(TContentCoding::Gzip, [&](const char* d, size_t n) { out.insert(out.end(), d, d + n); });
    decoder.Feed(packed.data(), packed.size());
    decoder.Finish();
    QueryPerformanceCounter(&end);
    printf("RESULT decode kestrel %.4f %lu\n", static_cast<double>(end.QuadPart - start.QuadPart) / frequency.QuadPart,
           static_cast<unsigned long>(out.size()));
  }
  return 0;
}

int wmain(int argc, wchar_t** argv) {
  if (argc == 4 && wcscmp(argv[1], L"decode") == 0) return DecodeRounds(argv[2], _wtoi(argv[3]));
  if (argc == 7 && wcscmp(argv[1], L"raw") == 0) return RawRequests(argv[3], _wtoi(argv[4]), argv[5], _wtoi(argv[6]));
  if (argc < 4) {
    fwprintf(stderr, L"usage: benchhost mem|idle PROGID URL\n");
    return 2;
  }
  std::wstring mode = argv[1];
  const wchar_t* progId = argv[2];
  const wchar_t* url = argv[3];
  bool kestrel = wcscmp(progId, L"Kestrel.Conn") == 0;

  CoInitialize(nullptr);
  CLSID clsid;
  IDispatch* d = nullptr;
  if (FAILED(CLSIDFromProgID(progId, &clsid)) ||
      FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, reinterpret_cast<void**>(&d)))) {
    fwprintf(stderr, L"cannot create %ls\n", progId);
    return 1;
  }
  int rc = 0;
  if (mode == L"mem") {
    PROCESS_MEMORY_COUNTERS before = {}, after = {};
    before.cb = after.cb = sizeof(PROCESS_MEMORY_COUNTERS);
    GetProcessMemoryInfo(GetCurrentProcess(), &before, sizeof before);
    if (kestrel && argc > 4 && wcscmp(argv[4], L"gzip") == 0) PutInt(d, L"Compression", -1);
    long n = FetchText(d, kestrel, url);
    GetProcessMemoryInfo(GetCurrentProcess(), &after, sizeof after);
    printf("chars=%ld peak_working_set_mb=%.1f start_working_set_mb=%.1f\n", n,
           after.PeakWorkingSetSize / 1048576.0, before.WorkingSetSize / 1048576.0);
    rc = n < 0;
  } else if (mode == L"repeat" || (mode == L"bytes" && kestrel)) {
    // benchhost repeat|bytes PROGID URL COUNT: COUNT fetches as text (or bytes) without a script engine.
    int count = argc > 4 ? _wtoi(argv[4]) : 100;
    bool bytes = mode == L"bytes";
    LetThePrefixSettle();
    FetchText(d, kestrel, url);  // the first call loads what the engine needs
    DWORD t0 = GetTickCount();
    long n = 0;
    for (int i = 0; i < count && n >= 0; ++i) n = bytes ? FetchBytes(d, url) : FetchText(d, kestrel, url);
    double secs = (GetTickCount() - t0) / 1000.0;
    printf("%ls requests=%d seconds=%.3f ms_per_request=%.3f %s=%ld\n", mode.c_str(), count, secs, 1000 * secs / count,
           bytes ? "bytes" : "chars", n);
    rc = n < 0;
  } else if (mode == L"links") {
    int rounds = argc > 4 ? _wtoi(argv[4]) : 3;
    rc = FetchText(d, kestrel, url) < 0;
    for (int i = 0; i < rounds && rc == 0; ++i) {
      VARIANT links;
      VariantInit(&links);
      LARGE_INTEGER frequency, start, end;
      QueryPerformanceFrequency(&frequency);
      QueryPerformanceCounter(&start);
      HRESULT hr = Invoke(d, L"GetHREFs", DISPATCH_METHOD, nullptr, 0, &links);
      QueryPerformanceCounter(&end);
      long count = -1;
      if (SUCCEEDED(hr) && links.vt == (VT_ARRAY | VT_VARIANT)) {
        LONG upper = -1;
        SafeArrayGetUBound(links.parray, 1, &upper);
        count = upper + 1;
      }
      // Freed outside the timing, as links.js frees the script's array.
      VariantClear(&links);
      printf("RESULT links kestrel-host %.4f %ld\n",
             static_cast<double>(end.QuadPart - start.QuadPart) / frequency.QuadPart, count);
      rc = count < 0;
    }
  } else if (mode == L"idle") {
    double cpu0 = CpuSeconds();
    DWORD t0 = GetTickCount();
    long n = FetchText(d, kestrel, url);
    double wall = (GetTickCount() - t0) / 1000.0;
    double cpu = CpuSeconds() - cpu0;
    printf("chars=%ld wall_s=%.2f cpu_s=%.3f cpu_pct=%.1f\n", n, wall, cpu, wall > 0 ? 100.0 * cpu / wall : 0.0);
    rc = n < 0;
  }
  d->Release();
  CoUninitialize();
  return rc;
}
