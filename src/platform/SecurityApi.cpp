// The chain parameters with their later fields: the URL retrieval time-out.
#define CERT_CHAIN_PARA_HAS_EXTRA_FIELDS
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

// Revocation is not asked for: the engine's "could not tell" about it is no
// error, as the platform's own objects take it by default.
const DWORD RevocationUnknown = CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION;

// What a trusted fingerprint forgives: not knowing the issuer.
const DWORD UnknownIssuer = CERT_TRUST_IS_UNTRUSTED_ROOT | CERT_TRUST_IS_PARTIAL_CHAIN;
// The TLS policy's check that passes over it (SECURITY_FLAG_IGNORE_UNKNOWN_CA,
// declared by the internet libraries' headers only).
const DWORD IgnoreUnknownIssuer = 0x00000100;

// The chain engine's findings and the policy code each gives, in the order of
// the TLS policy: signature, trust in the root, time, revocation, then what
// an issuer may certify, extensions, policies and usage. An issuer's basic
// constraints are looked at more closely first (IssuerStatus).
struct TChainError {
  DWORD Bits;
  HRESULT Status;
};
const TChainError ChainErrors[] = {
    {CERT_TRUST_IS_NOT_SIGNATURE_VALID, TRUST_E_CERT_SIGNATURE},
    {CERT_TRUST_IS_UNTRUSTED_ROOT | CERT_TRUST_IS_PARTIAL_CHAIN | CERT_TRUST_IS_CYCLIC, CERT_E_UNTRUSTEDROOT},
    {CERT_TRUST_IS_EXPLICIT_DISTRUST, TRUST_E_EXPLICIT_DISTRUST},
    {CERT_TRUST_IS_NOT_TIME_VALID, CERT_E_EXPIRED},
    {CERT_TRUST_IS_NOT_TIME_NESTED, CERT_E_VALIDITYPERIODNESTING},
    {CERT_TRUST_IS_REVOKED, CERT_E_REVOKED},
    {CERT_TRUST_INVALID_BASIC_CONSTRAINTS, TRUST_E_BASIC_CONSTRAINTS},
    {CERT_TRUST_INVALID_NAME_CONSTRAINTS | CERT_TRUST_HAS_NOT_SUPPORTED_NAME_CONSTRAINT |
         CERT_TRUST_HAS_NOT_DEFINED_NAME_CONSTRAINT | CERT_TRUST_HAS_NOT_PERMITTED_NAME_CONSTRAINT |
         CERT_TRUST_HAS_EXCLUDED_NAME_CONSTRAINT,
     CERT_E_INVALID_NAME},
    {CERT_TRUST_INVALID_EXTENSION | CERT_TRUST_HAS_NOT_SUPPORTED_CRITICAL_EXT, CERT_E_CRITICAL},
    {CERT_TRUST_INVALID_POLICY_CONSTRAINTS | CERT_TRUST_NO_ISSUANCE_CHAIN_POLICY, CERT_E_INVALID_POLICY},
    {CERT_TRUST_IS_NOT_VALID_FOR_USAGE, CERT_E_WRONG_USAGE},
};

// The issuers' basic constraints are looked at once the chain engine found
// fault with them or with a usage, which an issuer that is no certificate
// authority also spoils (its key may not sign certificates).
const DWORD IssuerErrors = CERT_TRUST_INVALID_BASIC_CONSTRAINTS | CERT_TRUST_IS_NOT_VALID_FOR_USAGE;

}  // namespace

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
  FDuplicate = Bind<TCertDuplicateCertificateContext>(FCrypt, "CertDuplicateCertificateContext");
  FFindExtension = Bind<TCertFindExtension>(FCrypt, "CertFindExtension");
  FDecodeObject = Bind<TCryptDecodeObject>(FCrypt, "CryptDecodeObject");
  // Needed only for trusted fingerprints: TLS works without it.
  FHash = reinterpret_cast<TCryptHashCertificate2>(
      reinterpret_cast<void*>(GetProcAddress(FCrypt, "CryptHashCertificate2")));
  auto init = Bind<PSecurityFunctionTableA(WINAPI*)()>(FSecurity, "InitSecurityInterfaceA");
  PSecurityFunctionTableA table = init();
  if (!table || !table->AcquireCredentialsHandleA || !table->InitializeSecurityContextA ||
      !table->EncryptMessage || !table->DecryptMessage || !table->QueryContextAttributesA ||
      !table->ApplyControlToken || !table->DeleteSecurityContext || !table->FreeCredentialsHandle ||
      !table->FreeContextBuffer)
    throw ESecurityDLLError("TLS is not available: the security package is incomplete");
  FTable = table;
}

uint32_t TSecurityApi::IssuerStatus(PCCERT_SIMPLE_CHAIN Chain) {
  // The end certificate is element 0; the path length an issuer allows
  // counts the certificate authorities between it and the end certificate.
  for (DWORD i = 1; i < Chain->cElement; ++i) {
    const CERT_CHAIN_ELEMENT& element = *Chain->rgpElement[i];
    CERT_BASIC_CONSTRAINTS2_INFO constraints{};
    DWORD size = sizeof constraints;
    const CERT_INFO& info = *element.pCertContext->pCertInfo;
    const PCERT_EXTENSION extension = FFindExtension(szOID_BASIC_CONSTRAINTS2, info.cExtension, info.rgExtension);
    const bool known = extension && FDecodeObject(X509_ASN_ENCODING, X509_BASIC_CONSTRAINTS2, extension->Value.pbData,
                                                  extension->Value.cbData, 0, &constraints, &size);
    // A self-signed root without the extension is an authority of old (version 1).
    const bool root = i + 1 == Chain->cElement && (element.TrustStatus.dwInfoStatus & CERT_TRUST_IS_SELF_SIGNED);
    if (known ? !constraints.fCA : !root) return static_cast<uint32_t>(TRUST_E_BASIC_CONSTRAINTS);
    if (known && constraints.fPathLenConstraint && i - 1 > constraints.dwPathLenConstraint)
      return static_cast<uint32_t>(CERT_E_PATHLENCONST);
  }
  return 0;
}

uint32_t TSecurityApi::ChainStatus(PCCERT_CHAIN_CONTEXT Chain, DWORD Forgiven) {
  const DWORD errors = Chain->TrustStatus.dwErrorStatus & ~RevocationUnknown & ~Forgiven;
  if (errors == 0) return 0;
  for (const TChainError& error : ChainErrors) {
    if ((error.Bits & CERT_TRUST_INVALID_BASIC_CONSTRAINTS) && (errors & IssuerErrors) && Chain->cChain > 0) {
      if (const uint32_t issuer = IssuerStatus(Chain->rgpChain[0])) return issuer;
    }
    if (errors & error.Bits) return static_cast<uint32_t>(error.Status);
  }
  return static_cast<uint32_t>(TRUST_E_FAIL);
}

TCertificateVerdict TSecurityApi::VerifyServerCertificate(PCCERT_CONTEXT Certificate, const std::string& HostName,
                                                          uint32_t UrlTimeoutMs, bool ForgiveIssuer) {
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
  chainPara.dwUrlRetrievalTimeout = UrlTimeoutMs;
  PCCERT_CHAIN_CONTEXT chain = nullptr;
  // The certificate's own store holds the intermediates the server sent.
  if (!FGetChain(nullptr, Certificate, nullptr, Certificate->hCertStore, &chainPara, 0, nullptr, &chain) ||
      !chain) {
    verdict.Status = static_cast<uint32_t>(CERT_E_CHAINING);
    return verdict;
  }
  // The chain's own findings first: some chain engines' TLS policy lets a
  // chain pass that ends before any root or breaks an issuer's constraints.
  const DWORD forgiven = ForgiveIssuer ? chain->TrustStatus.dwErrorStatus & UnknownIssuer : 0;
  verdict.Status = ChainStatus(chain, forgiven);
  if (verdict.Status != 0) {
    FFreeChain(chain);
    return verdict;
  }
  // Host names are ASCII (an IDN arrives in its ACE form); a byte above 127
  // is widened as the code it is, never as a negative char.
  std::vector<WCHAR> wideHost;
  for (const char c : HostName) wideHost.push_back(static_cast<WCHAR>(static_cast<unsigned char>(c)));
  wideHost.push_back(0);
  SSL_EXTRA_CERT_CHAIN_POLICY_PARA sslPara{};
  sslPara.cbSize = sizeof sslPara;
  sslPara.dwAuthType = AUTHTYPE_SERVER;
  sslPara.pwszServerName = wideHost.data();
  // The policy goes on to the name once the unknown issuer is passed over.
  if (forgiven) sslPara.fdwChecks = IgnoreUnknownIssuer;
  CERT_CHAIN_POLICY_PARA policyPara{};
  policyPara.cbSize = sizeof policyPara;
  policyPara.pvExtraPolicyPara = &sslPara;
  CERT_CHAIN_POLICY_STATUS policyStatus{};
  policyStatus.cbSize = sizeof policyStatus;
  if (!FVerifyPolicy(CERT_CHAIN_POLICY_SSL, chain, &policyPara, &policyStatus))
    verdict.Status = static_cast<uint32_t>(CERT_E_CHAINING);
  else
    verdict.Status = policyStatus.dwError;
  verdict.IssuerForgiven = forgiven != 0 && verdict.Status == 0;
  FFreeChain(chain);
  return verdict;
}

PCCERT_CONTEXT TSecurityApi::DuplicateCertificate(PCCERT_CONTEXT Certificate) { return FDuplicate(Certificate); }

void TSecurityApi::FreeCertificate(PCCERT_CONTEXT Certificate) {
  if (Certificate) FFreeContext(Certificate);
}

std::string TSecurityApi::CertificateSha256(PCCERT_CONTEXT Certificate) {
  BYTE digest[32];
  DWORD size = sizeof digest;
  if (!FHash || !Certificate ||
      !FHash(L"SHA256", 0, nullptr, Certificate->pbCertEncoded, Certificate->cbCertEncoded, digest, &size) ||
      size != sizeof digest)
    return std::string();
  return std::string(reinterpret_cast<const char*>(digest), size);
}

TSecurityApi SecurityApi;
