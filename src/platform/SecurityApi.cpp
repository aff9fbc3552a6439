#include "platform/SecurityApi.h"

#include "platform/SystemLibrary.h"

#include <vector>

namespace {

const char* const SecurityLibraryName = "secur32.dll";
const char* const CryptLibraryName = "crypt32.dll";

template <typename Fn>
Fn Bind(HMODULE module, const char* name) {
  FARPROC proc = GetProcAddress(module, name);
  if (!proc) throw ESecurityDLLError(std::string("TLS is not available: function ") + name + " not found");
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(proc));
}

// The policy code for a chain's trust errors, in the order of the TLS policy:
// signature, trust in the root, time, revocation, usage, constraints. A
// revocation state that could not be learnt is no error: none is asked for.
uint32_t ChainStatus(DWORD errors) {
  if (errors & CERT_TRUST_IS_NOT_SIGNATURE_VALID) return static_cast<uint32_t>(TRUST_E_CERT_SIGNATURE);
  if (errors & (CERT_TRUST_IS_UNTRUSTED_ROOT | CERT_TRUST_IS_PARTIAL_CHAIN | CERT_TRUST_IS_CYCLIC))
    return static_cast<uint32_t>(CERT_E_UNTRUSTEDROOT);
  if (errors & CERT_TRUST_IS_NOT_TIME_VALID) return static_cast<uint32_t>(CERT_E_EXPIRED);
  if (errors & CERT_TRUST_IS_NOT_TIME_NESTED) return static_cast<uint32_t>(CERT_E_VALIDITYPERIODNESTING);
  if (errors & CERT_TRUST_IS_REVOKED) return static_cast<uint32_t>(CERT_E_REVOKED);
  if (errors & CERT_TRUST_IS_NOT_VALID_FOR_USAGE) return static_cast<uint32_t>(CERT_E_WRONG_USAGE);
  if (errors & CERT_TRUST_INVALID_BASIC_CONSTRAINTS) return static_cast<uint32_t>(TRUST_E_BASIC_CONSTRAINTS);
  return 0;
}

}  // namespace

TSecurityApi::~TSecurityApi() {
  FTable = nullptr;
  if (FCrypt) FreeLibrary(FCrypt);
  if (FSecurity) FreeLibrary(FSecurity);
}

void TSecurityApi::Load() {
  if (IsLoaded()) return;
  TLockGuard guard(FLoadLock);
  if (IsLoaded()) return;
  if (!FSecurity) FSecurity = LoadSystemLibrary(SecurityLibraryName);
  if (!FSecurity) throw ESecurityDLLError("TLS is not available: secur32.dll not found");
  if (!FCrypt) FCrypt = LoadSystemLibrary(CryptLibraryName);
  if (!FCrypt) throw ESecurityDLLError("TLS is not available: crypt32.dll not found");
  FGetChain = Bind<TCertGetCertificateChain>(FCrypt, "CertGetCertificateChain");
  FVerifyPolicy = Bind<TCertVerifyCertificateChainPolicy>(FCrypt, "CertVerifyCertificateChainPolicy");
  FFreeChain = Bind<TCertFreeCertificateChain>(FCrypt, "CertFreeCertificateChain");
  FFreeContext = Bind<TCertFreeCertificateContext>(FCrypt, "CertFreeCertificateContext");
  FGetName = Bind<TCertGetNameStringA>(FCrypt, "CertGetNameStringA");
  auto init = Bind<PSecurityFunctionTableA(WINAPI*)()>(FSecurity, "InitSecurityInterfaceA");
  PSecurityFunctionTableA table = init();
  if (!table || !table->AcquireCredentialsHandleA || !table->InitializeSecurityContextA ||
      !table->EncryptMessage || !table->DecryptMessage || !table->QueryContextAttributesA ||
      !table->ApplyControlToken || !table->DeleteSecurityContext || !table->FreeCredentialsHandle ||
      !table->FreeContextBuffer)
    throw ESecurityDLLError("TLS is not available: the security package is incomplete");
  FTable = table;
}

TCertificateVerdict TSecurityApi::VerifyServerCertificate(PCCERT_CONTEXT Certificate, const std::string& HostName) {
  TCertificateVerdict verdict;
  char name[256] = {};
  DWORD length = FGetName(Certificate, CERT_NAME_DNS_TYPE, 0, nullptr, name, sizeof name);
  if (length > 1) verdict.IssuedTo.assign(name, length - 1);
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  verdict.NotYetValid = CompareFileTime(&now, &Certificate->pCertInfo->NotBefore) < 0;

  char serverAuth[] = szOID_PKIX_KP_SERVER_AUTH;
  char serverGated[] = szOID_SERVER_GATED_CRYPTO;
  char netscapeGated[] = szOID_SGC_NETSCAPE;
  LPSTR usages[] = {serverAuth, serverGated, netscapeGated};
  CERT_CHAIN_PARA chainPara{};
  chainPara.cbSize = sizeof chainPara;
  chainPara.RequestedUsage.dwType = USAGE_MATCH_TYPE_OR;
  chainPara.RequestedUsage.Usage.cUsageIdentifier = 3;
  chainPara.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
  PCCERT_CHAIN_CONTEXT chain = nullptr;
  // The certificate's own store holds the intermediates the server sent.
  if (!FGetChain(nullptr, Certificate, nullptr, Certificate->hCertStore, &chainPara, 0, nullptr, &chain) ||
      !chain) {
    verdict.Status = static_cast<uint32_t>(CERT_E_CHAINING);
    return verdict;
  }
  // The chain's own findings first: some chain engines' TLS policy lets a
  // chain that ends before any root pass.
  verdict.Status = ChainStatus(chain->TrustStatus.dwErrorStatus);
  if (verdict.Status != 0) {
    FFreeChain(chain);
    return verdict;
  }
  // Host names are ASCII (an IDN arrives in its ACE form).
  std::vector<WCHAR> wideHost(HostName.begin(), HostName.end());
  wideHost.push_back(0);
  SSL_EXTRA_CERT_CHAIN_POLICY_PARA sslPara{};
  sslPara.cbSize = sizeof sslPara;
  sslPara.dwAuthType = AUTHTYPE_SERVER;
  sslPara.pwszServerName = wideHost.data();
  CERT_CHAIN_POLICY_PARA policyPara{};
  policyPara.cbSize = sizeof policyPara;
  policyPara.pvExtraPolicyPara = &sslPara;
  CERT_CHAIN_POLICY_STATUS policyStatus{};
  policyStatus.cbSize = sizeof policyStatus;
  if (!FVerifyPolicy(CERT_CHAIN_POLICY_SSL, chain, &policyPara, &policyStatus))
    verdict.Status = static_cast<uint32_t>(CERT_E_CHAINING);
  else
    verdict.Status = policyStatus.dwError;
  FFreeChain(chain);
  return verdict;
}

void TSecurityApi::FreeCertificate(PCCERT_CONTEXT Certificate) {
  if (Certificate) FFreeContext(Certificate);
}

TSecurityApi SecurityApi;
