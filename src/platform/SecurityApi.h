// Run-time binding of the platform's security package (TLS through the
// Schannel provider of SSPI) and of the certificate chain engine. Like the
// socket library, nothing links against them: both libraries are loaded by
// name the first time an https exchange needs them, so the DLL loads, and
// http works, on a system where they are missing.
#pragma once

#ifndef SECURITY_WIN32
#define SECURITY_WIN32
#endif

#include "codecs/Exception.h"
#include "platform/CriticalSection.h"

#include <windows.h>
#include <wincrypt.h>
#include <schannel.h>
#include <security.h>
#include <sspi.h>

#include <atomic>
#include <cstdint>
#include <string>

// The security package or the chain engine cannot be bound.
class ESecurityDLLError : public Exception {
public:
  using Exception::Exception;
};

// What the chain engine says of a server's certificate.
struct TCertificateVerdict {
  // 0 when the certificate is good for the name; else the policy's code
  // (CERT_E_EXPIRED, CERT_E_UNTRUSTEDROOT, CERT_E_CN_NO_MATCH...).
  uint32_t Status = 0;
  // The first DNS name the certificate was issued for (its subject's common
  // name when it has none).
  std::string IssuedTo;
  // The certificate's validity period begins later than now.
  bool NotYetValid = false;
  // Good only because the caller forgave its issuer: the chain reaches no
  // root the machine trusts.
  bool IssuerForgiven = false;
};

class TSecurityApi {
public:
  TSecurityApi() = default;
  TSecurityApi(const TSecurityApi&) = delete;
  TSecurityApi& operator=(const TSecurityApi&) = delete;

  // Loads both libraries once; threads may race here. Raises
  // ESecurityDLLError with a text naming what is missing.
  void Load();
  bool IsLoaded() const { return FTable.load() != nullptr; }

  // The security package's function table (Load first).
  const SecurityFunctionTableA& Sspi() const { return *FTable.load(); }

  // Builds the chain of Certificate (with the intermediates the server sent
  // in its store) to a trusted root of the machine and checks it with the
  // TLS server policy for HostName. Every error the chain engine finds
  // refuses the certificate, but for not knowing its revocation state (none
  // is asked for). The engine may fetch a missing issuer from an address the
  // certificate names: it is asked to give up each fetch after UrlTimeoutMs
  // (some engines, Wine's, do not), so callers run this on a thread of its
  // own (TCertificateCheck). With ForgiveIssuer, a chain that ends at an
  // untrusted root or before any root passes (the caller trusts the
  // certificate itself); every other check, the name and the dates among
  // them, still counts.
  TCertificateVerdict VerifyServerCertificate(PCCERT_CONTEXT Certificate, const std::string& HostName,
                                              uint32_t UrlTimeoutMs, bool ForgiveIssuer = false);
  PCCERT_CONTEXT DuplicateCertificate(PCCERT_CONTEXT Certificate);
  void FreeCertificate(PCCERT_CONTEXT Certificate);
  // The 32 bytes of the SHA-256 digest of the certificate's encoded form, by
  // the system's hash; empty where the system cannot make it.
  std::string CertificateSha256(PCCERT_CONTEXT Certificate);

private:
  using TCertGetCertificateChain = BOOL(WINAPI*)(HCERTCHAINENGINE, PCCERT_CONTEXT, LPFILETIME, HCERTSTORE,
                                                 PCERT_CHAIN_PARA, DWORD, LPVOID, PCCERT_CHAIN_CONTEXT*);
  using TCertVerifyCertificateChainPolicy = BOOL(WINAPI*)(LPCSTR, PCCERT_CHAIN_CONTEXT, PCERT_CHAIN_POLICY_PARA,
                                                          PCERT_CHAIN_POLICY_STATUS);
  using TCertFreeCertificateChain = VOID(WINAPI*)(PCCERT_CHAIN_CONTEXT);
  using TCertFreeCertificateContext = BOOL(WINAPI*)(PCCERT_CONTEXT);
  using TCertGetNameStringA = DWORD(WINAPI*)(PCCERT_CONTEXT, DWORD, DWORD, void*, LPSTR, DWORD);
  using TCertDuplicateCertificateContext = PCCERT_CONTEXT(WINAPI*)(PCCERT_CONTEXT);
  using TCertFindExtension = PCERT_EXTENSION(WINAPI*)(LPCSTR, DWORD, CERT_EXTENSION*);
  using TCryptDecodeObject = BOOL(WINAPI*)(DWORD, LPCSTR, const BYTE*, DWORD, DWORD, void*, DWORD*);
  using TCryptHashCertificate2 = BOOL(WINAPI*)(LPCWSTR, DWORD, void*, const BYTE*, DWORD, BYTE*, DWORD*);

  // The policy code for the chain's own findings, the most telling first.
  uint32_t ChainStatus(PCCERT_CHAIN_CONTEXT Chain, DWORD Forgiven);
  // TRUST_E_BASIC_CONSTRAINTS for an issuer that is no certificate authority,
  // CERT_E_PATHLENCONST for one whose path length the chain exceeds, else 0.
  uint32_t IssuerStatus(PCCERT_SIMPLE_CHAIN Chain);

  TCriticalSection FLoadLock;
  HMODULE FSecurity = nullptr;
  HMODULE FCrypt = nullptr;
  TCertGetCertificateChain FGetChain = nullptr;
  TCertVerifyCertificateChainPolicy FVerifyPolicy = nullptr;
  TCertFreeCertificateChain FFreeChain = nullptr;
  TCertFreeCertificateContext FFreeContext = nullptr;
  TCertGetNameStringA FGetName = nullptr;
  TCertDuplicateCertificateContext FDuplicate = nullptr;
  TCertFindExtension FFindExtension = nullptr;
  TCryptDecodeObject FDecodeObject = nullptr;
  TCryptHashCertificate2 FHash = nullptr;  // optional: older systems lack it
  // Set last, once every entry point above is bound.
  std::atomic<PSecurityFunctionTableA> FTable{nullptr};
};

// The process-wide binding, loaded on first use. Its libraries stay loaded
// until the process ends: a certificate check may still be running on a pool
// thread after its connection has gone, and while the module unloads freeing
// a library is unsafe. (Both are system libraries the platform's TLS keeps
// loaded anyway.)
extern TSecurityApi SecurityApi;
