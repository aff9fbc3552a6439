#include "tcp/TlsSession.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string_view>

namespace {

const ULONG ContextRequirements = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT | ISC_REQ_CONFIDENTIALITY |
                                  ISC_REQ_EXTENDED_ERROR | ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM |
                                  ISC_REQ_USE_SUPPLIED_CREDS | ISC_REQ_MANUAL_CRED_VALIDATION;

// Handshake calls one Step makes before it lets its caller pump and look at
// its time-out. Some packages take one record per call, and a server may cut
// its flight into many small records.
const int MaxHandshakeCallsPerStep = 64;

const SecurityFunctionTableA& Sspi() { return SecurityApi.Sspi(); }

// Output tokens are allocated by the package: copied out, then given back.
void TakeToken(SecBuffer& token, std::string& Output) {
  if (!token.pvBuffer) return;
  if (token.cbBuffer > 0) Output.append(static_cast<const char*>(token.pvBuffer), token.cbBuffer);
  Sspi().FreeContextBuffer(token.pvBuffer);
  token.pvBuffer = nullptr;
}

SEC_CHAR* PackageName() { return const_cast<SEC_CHAR*>(SCHANNEL_NAME_A); }

// The content type of a record that carries an alert.
const char AlertRecord = 21;

bool HasData(const SecBuffer (&buffers)[4]) {
  for (const SecBuffer& buffer : buffers) {
    if (buffer.BufferType == SECBUFFER_DATA && buffer.cbBuffer > 0) return true;
  }
  return false;
}

// Whether the bytes can begin a TLS record: a known content type (20 to 24),
// major version 3 and a length TLS allows. Checked on as many of the five
// header bytes as have arrived, so that a server that answers in anything but
// TLS is told apart at once, rather than waited for until it closes (some
// security packages wait for the whole "record" that such a header announces).
bool CanBeRecord(const char* data, size_t available) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(data);
  if (available >= 1 && (bytes[0] < 20 || bytes[0] > 24)) return false;
  if (available >= 2 && bytes[1] != 3) return false;
  if (available >= 5 && static_cast<size_t>(bytes[3] << 8 | bytes[4]) > TTlsSession::MaxRecordSize - 5) return false;
  return true;
}

}  // namespace

// ---------------------------------------------------------------------------
// Verified servers

namespace {

std::string_view Encoded(PCCERT_CONTEXT Certificate) {
  return std::string_view(reinterpret_cast<const char*>(Certificate->pbCertEncoded), Certificate->cbCertEncoded);
}

}  // namespace

bool TVerifiedServers::Contains(PCCERT_CONTEXT Certificate, const std::string& HostName, bool Listed,
                                bool& IssuerForgiven) const {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  if (CompareFileTime(&now, &Certificate->pCertInfo->NotAfter) > 0) return false;
  const uint32_t tick = GetTickCount();
  for (const TEntry& entry : FEntries) {
    if (tick - entry.VerifiedAt < LifetimeMs && entry.HostName == HostName &&
        entry.Certificate == Encoded(Certificate) && (Listed || !entry.IssuerForgiven)) {
      IssuerForgiven = entry.IssuerForgiven;
      return true;
    }
  }
  return false;
}

void TVerifiedServers::Add(PCCERT_CONTEXT Certificate, const std::string& HostName, bool IssuerForgiven) {
  const uint32_t tick = GetTickCount();
  // Entries past their time go, and the host's earlier one; the oldest when
  // the list is full.
  for (size_t i = 0; i < FEntries.size();) {
    if (tick - FEntries[i].VerifiedAt >= LifetimeMs || FEntries[i].HostName == HostName)
      FEntries.erase(FEntries.begin() + static_cast<std::ptrdiff_t>(i));
    else
      ++i;
  }
  if (FEntries.size() >= MaxEntries) FEntries.erase(FEntries.begin());
  FEntries.push_back({std::string(Encoded(Certificate)), HostName, tick, IssuerForgiven});
}

// ---------------------------------------------------------------------------
// Credentials

TTlsCredentials::~TTlsCredentials() {
  if (FAcquired) Sspi().FreeCredentialsHandle(&FHandle);
}

long TTlsCredentials::Acquire() {
  if (FAcquired) return 0;
  SCHANNEL_CRED data{};
  data.dwVersion = SCHANNEL_CRED_VERSION;
  // The certificate is checked by the connection itself, against the machine's
  // roots and the host name, so that a refusal can say what is wrong. No
  // client certificate is ever offered.
  data.dwFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS | SCH_USE_STRONG_CRYPTO;
  TimeStamp expiry;
  long status = Sspi().AcquireCredentialsHandleA(nullptr, PackageName(), SECPKG_CRED_OUTBOUND, nullptr, &data,
                                                 nullptr, nullptr, &FHandle, &expiry);
  FAcquired = status == SEC_E_OK;
  return status;
}

// ---------------------------------------------------------------------------
// Session

TTlsSession::TTlsSession(TTlsCredentials& Credentials, const std::string& HostName)
    : FCredentials(Credentials), FHostName(HostName) {}

TTlsSession::~TTlsSession() {
  if (FVerifying) SecurityApi.FreeCertificate(FVerifying);
  if (FHasContext) Sspi().DeleteSecurityContext(&FContext);
}

long TTlsSession::Initialize(SecBufferDesc* Input, std::string& Token) {
  SecBuffer out[1] = {{0, SECBUFFER_TOKEN, nullptr}};
  SecBufferDesc outDesc{SECBUFFER_VERSION, 1, out};
  ULONG attributes = 0;
  // The first call makes the context, every later one carries it on.
  long status = Sspi().InitializeSecurityContextA(
      FCredentials.Handle(), FHasContext ? &FContext : nullptr, const_cast<SEC_CHAR*>(FHostName.c_str()),
      ContextRequirements, 0, 0, Input, 0, FHasContext ? nullptr : &FContext, &outDesc, &attributes, nullptr);
  TakeToken(out[0], Token);
  return status;
}

long TTlsSession::Begin(std::string& Output) {
  long status = Initialize(nullptr, Output);
  // Any success made the context, which the destructor must delete, even one
  // the handshake cannot go on from.
  if (!FAILED(status)) FHasContext = true;
  if (status != SEC_I_CONTINUE_NEEDED) return FAILED(status) ? status : SEC_E_INTERNAL_ERROR;
  return 0;
}

long TTlsSession::Handshake(std::string& Output, TProgress& Progress) {
  if (FState != TState::Handshaking) {
    Progress = TProgress::Done;
    return 0;
  }
  return Step(Output, Progress);
}

long TTlsSession::Step(std::string& Output, TProgress& Progress) {
  Progress = TProgress::NeedInput;
  bool retried = false;
  // Ends when the input runs out or is not a whole record, when a call takes
  // nothing and gives nothing back, and after MaxHandshakeCallsPerStep
  // calls: the caller then feeds the rest again, bounded by its time-out.
  for (int call = 0; call < MaxHandshakeCallsPerStep; ++call) {
    if (!CanBeRecord(FInput.data() + FInputStart, PendingInput())) return SEC_E_INVALID_TOKEN;
    SecBuffer in[2] = {{static_cast<ULONG>(PendingInput()), SECBUFFER_TOKEN, FInput.data() + FInputStart},
                       {0, SECBUFFER_EMPTY, nullptr}};
    SecBufferDesc inDesc{SECBUFFER_VERSION, 2, in};
    const size_t given = PendingInput(), output = Output.size();
    // On failure the token, if any, is the alert that tells the server why.
    long status = Initialize(&inDesc, Output);
    if (status == SEC_E_INCOMPLETE_MESSAGE) {
      if (PendingInput() >= MaxInputCapacity) return SEC_E_INVALID_TOKEN;
      return 0;
    }
    // The server asked for a client certificate: go on without one.
    if (status == SEC_I_INCOMPLETE_CREDENTIALS && !retried) {
      retried = true;
      continue;
    }
    if (FAILED(status)) return status;
    const size_t extra = in[1].BufferType == SECBUFFER_EXTRA ? std::min<size_t>(in[1].cbBuffer, given) : 0;
    Consume(given - extra);
    if (status == SEC_E_OK) {
      FState = TState::Established;
      FRenegotiating = false;
      Progress = TProgress::Done;
      // A later handshake holds the server to the certificate checked after
      // the first one.
      if (!FServerCertificate.empty() && !SameServerCertificate()) FCertificateChanged = true;
      return QuerySizes();
    }
    if (status != SEC_I_CONTINUE_NEEDED) return status;
    if (extra == 0) return 0;
    if (extra == given && Output.size() == output) {
      Progress = TProgress::Stalled;
      return 0;
    }
  }
  Progress = TProgress::More;
  return 0;
}

long TTlsSession::QuerySizes() {
  long status = Sspi().QueryContextAttributesA(&FContext, SECPKG_ATTR_STREAM_SIZES, &FSizes);
  if (status != SEC_E_OK) return status;
  if (FSizes.cbMaximumMessage == 0) return SEC_E_INTERNAL_ERROR;
  return 0;
}

char* TTlsSession::InputSpace(size_t& Size) {
  if (FPlainLength == 0) Compact();
  if (FInput.size() < FCapacity) FInput.resize(FCapacity);
  Size = FInput.size() - FInputEnd;
  return FInput.data() + FInputEnd;
}

void TTlsSession::InputReceived(size_t Count) {
  // A receive that filled all the room there was: more is coming, in larger pieces.
  if (Count > 0 && FInputEnd + Count >= FInput.size()) FCapacity = std::min(FCapacity * 2, MaxInputCapacity);
  FInputEnd = std::min(FInputEnd + Count, FInput.size());
}

void TTlsSession::Consume(size_t Count) {
  FInputStart += std::min(Count, PendingInput());
  if (FInputStart == FInputEnd && FPlainLength == 0) FInputStart = FInputEnd = 0;
}

// Moves the unprocessed bytes to the front; only when no plaintext waits in
// the buffer before them.
void TTlsSession::Compact() {
  if (FInputStart == 0) return;
  std::memmove(FInput.data(), FInput.data() + FInputStart, PendingInput());
  FInputEnd -= FInputStart;
  FInputStart = 0;
}

long TTlsSession::Decrypt(std::string& Output, TProgress& Progress) {
  Progress = TProgress::NeedInput;
  if (FState == TState::Ended) {
    Progress = TProgress::Done;
    return 0;
  }
  if (FState == TState::Handshaking) {
    long status = Step(Output, Progress);
    if (status != 0 || Progress != TProgress::Done) return status;
    Progress = TProgress::NeedInput;
  }
  if (FPlainLength > 0) {
    Progress = TProgress::Done;
    return 0;
  }
  if (PendingInput() == 0) return 0;
  if (!CanBeRecord(FInput.data() + FInputStart, PendingInput())) return SEC_E_INVALID_TOKEN;
  SecBuffer buffers[4] = {{static_cast<ULONG>(PendingInput()), SECBUFFER_DATA, FInput.data() + FInputStart},
                          {0, SECBUFFER_EMPTY, nullptr},
                          {0, SECBUFFER_EMPTY, nullptr},
                          {0, SECBUFFER_EMPTY, nullptr}};
  SecBufferDesc desc{SECBUFFER_VERSION, 4, buffers};
  const bool alertRecord = FInput[FInputStart] == AlertRecord;
  long status = Sspi().DecryptMessage(&FContext, &desc, 0, nullptr);
  if (status == SEC_E_INCOMPLETE_MESSAGE) {
    // A record can never be larger than the buffer; a header claiming one is not TLS.
    if (PendingInput() >= MaxInputCapacity) return SEC_E_INVALID_TOKEN;
    return 0;
  }
  // Some packages (Wine's) report the closing alert as an alert record that
  // gives no data, rather than as the end of the context; other alerts fail.
  if (status == SEC_E_OK && alertRecord && !HasData(buffers)) status = SEC_I_CONTEXT_EXPIRED;
  if (status == SEC_I_CONTEXT_EXPIRED) {
    // The server's closing alert: what follows it is not data.
    FState = TState::Ended;
    FInputStart = FInputEnd = 0;
    Progress = TProgress::Done;
    return 0;
  }
  if (status != SEC_E_OK && status != SEC_I_RENEGOTIATE) return status;
  size_t extra = 0;
  for (SecBuffer& buffer : buffers) {
    if (buffer.BufferType == SECBUFFER_DATA && buffer.cbBuffer > 0) {
      FPlain = static_cast<const char*>(buffer.pvBuffer);
      FPlainLength = buffer.cbBuffer;
    } else if (buffer.BufferType == SECBUFFER_EXTRA) {
      extra = std::min<size_t>(buffer.cbBuffer, PendingInput());
    }
  }
  Consume(PendingInput() - extra);
  Progress = TProgress::Done;
  if (status == SEC_I_RENEGOTIATE) {
    // A handshake message from the server (a new handshake, or a message
    // after the first one): the rest of the input belongs to it.
    FState = TState::Handshaking;
    FRenegotiating = true;
    TProgress handshake;
    status = Step(Output, handshake);
    if (handshake == TProgress::Stalled) Progress = handshake;
    return status;
  }
  return 0;
}

size_t TTlsSession::TakePlain(char* Target, size_t Size) {
  const size_t count = std::min(Size, FPlainLength);
  if (count == 0) return 0;
  std::memcpy(Target, FPlain, count);
  FPlain += count;
  FPlainLength -= count;
  if (FPlainLength == 0) {
    FPlain = nullptr;
    if (FInputStart == FInputEnd) FInputStart = FInputEnd = 0;
  }
  return count;
}

long TTlsSession::Encrypt(const char* Data, size_t Size, std::string& Output) {
  if (FState != TState::Established) return SEC_E_CONTEXT_EXPIRED;
  const size_t header = FSizes.cbHeader, trailer = FSizes.cbTrailer;
  // Bounded by Size: every pass encrypts up to one record's worth.
  for (size_t done = 0; done < Size;) {
    const size_t piece = std::min<size_t>(Size - done, FSizes.cbMaximumMessage);
    const size_t start = Output.size();
    Output.resize(start + header + piece + trailer);
    char* record = &Output[start];
    std::memcpy(record + header, Data + done, piece);
    SecBuffer buffers[4] = {{static_cast<ULONG>(header), SECBUFFER_STREAM_HEADER, record},
                            {static_cast<ULONG>(piece), SECBUFFER_DATA, record + header},
                            {static_cast<ULONG>(trailer), SECBUFFER_STREAM_TRAILER, record + header + piece},
                            {0, SECBUFFER_EMPTY, nullptr}};
    SecBufferDesc desc{SECBUFFER_VERSION, 4, buffers};
    long status = Sspi().EncryptMessage(&FContext, 0, &desc, 0);
    if (status != SEC_E_OK) {
      Output.resize(start);
      return status;
    }
    // The trailer may come out shorter than its largest size.
    Output.resize(start + buffers[0].cbBuffer + buffers[1].cbBuffer + buffers[2].cbBuffer);
    done += piece;
  }
  return 0;
}

void TTlsSession::Shutdown(std::string& Output) {
  if (!FHasContext || FState != TState::Established) return;
  DWORD type = SCHANNEL_SHUTDOWN;
  SecBuffer control[1] = {{sizeof type, SECBUFFER_TOKEN, &type}};
  SecBufferDesc controlDesc{SECBUFFER_VERSION, 1, control};
  if (Sspi().ApplyControlToken(&FContext, &controlDesc) != SEC_E_OK) return;
  std::string alert;
  if (!FAILED(Initialize(nullptr, alert))) Output += alert;
  FState = TState::Ended;
}

void TTlsSession::BeginVerify(uint32_t UrlTimeoutMs, const std::vector<std::string>& TrustedDigests) {
  FVerdict = TCertificateVerdict();
  FCheck.reset();
  if (FVerifying) SecurityApi.FreeCertificate(FVerifying);
  FVerifying = nullptr;
  if (Sspi().QueryContextAttributesA(&FContext, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &FVerifying) != SEC_E_OK ||
      !FVerifying) {
    FVerifying = nullptr;
    FVerdict.Status = static_cast<uint32_t>(SEC_E_NO_CREDENTIALS);
    return;
  }
  FServerCertificate.assign(Encoded(FVerifying));
  // Hashed only when some fingerprint is trusted: without, nothing changes.
  const bool listed =
      !TrustedDigests.empty() && std::find(TrustedDigests.begin(), TrustedDigests.end(),
                                           SecurityApi.CertificateSha256(FVerifying)) != TrustedDigests.end();
  if (!FCredentials.Verified.Contains(FVerifying, FHostName, listed, FVerdict.IssuerForgiven))
    FCheck.reset(new TCertificateCheck(FVerifying, FHostName, UrlTimeoutMs, listed));
}

const TCertificateCheck* TTlsSession::RunningVerify() const { return FCheck && !FCheck->Done() ? FCheck.get() : nullptr; }

TCertificateVerdict TTlsSession::EndVerify() {
  if (FCheck) {
    FVerdict = FCheck->Verdict();
    FCheck.reset();
    if (FVerdict.Status == 0) FCredentials.Verified.Add(FVerifying, FHostName, FVerdict.IssuerForgiven);
  }
  if (FVerifying) SecurityApi.FreeCertificate(FVerifying);
  FVerifying = nullptr;
  return FVerdict;
}

bool TTlsSession::SameServerCertificate() {
  PCCERT_CONTEXT certificate = nullptr;
  if (Sspi().QueryContextAttributesA(&FContext, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &certificate) != SEC_E_OK ||
      !certificate)
    return false;
  const bool same = !FServerCertificate.empty() && Encoded(certificate) == FServerCertificate;
  SecurityApi.FreeCertificate(certificate);
  return same;
}

// ---------------------------------------------------------------------------
// Texts

namespace {

struct TStatusMeaning {
  uint32_t Status;
  const char* Meaning;
};

const TStatusMeaning StatusMeanings[] = {
    {0x80090300, "not enough memory"},
    {0x80090302, "the security package does not support this"},
    {0x80090304, "internal error of the security package"},
    {0x80090308, "the server's answer is not TLS"},
    {0x8009030E, "no credentials are available"},
    {0x8009030F, "a record was altered on the way"},
    {0x80090317, "the TLS session has ended"},
    {0x80090318, "the record is incomplete"},
    {0x80090321, "the buffer is too small"},
    {0x80090322, "the server's name does not match"},
    {0x80090325, "the certificate chain is not trusted"},
    {0x80090326, "the server sent an unexpected or badly formatted message"},
    {0x80090327, "the certificate is unknown"},
    {0x80090328, "the certificate has expired"},
    {0x80090330, "a record could not be decrypted"},
    {0x80090331, "client and server have no protocol version or cipher in common"},
    {0x8009035D, "the server refused the client's protocol version or ciphers"},
};

std::string Hex(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(value));
  return text;
}

}  // namespace

std::string TlsErrorText(long Status, const std::string& Step) {
  const auto code = static_cast<uint32_t>(Status);
  const char* meaning = "unexpected status of the security package";
  for (const TStatusMeaning& entry : StatusMeanings) {
    if (entry.Status == code) meaning = entry.Meaning;
  }
  return "[" + Hex(code) + "] TLS " + Step + " failed: " + meaning;
}

std::string CertificateErrorText(const TCertificateVerdict& Verdict) {
  const std::string prefix = "Certificate error: ";
  switch (static_cast<long>(Verdict.Status)) {
    case CERT_E_CN_NO_MATCH:
      return prefix + "the certificate was issued for another name (" +
             (Verdict.IssuedTo.empty() ? std::string("no name") : Verdict.IssuedTo) + ")";
    case CERT_E_EXPIRED:
      return prefix + (Verdict.NotYetValid ? "the certificate is not valid yet" : "the certificate has expired");
    case CERT_E_UNTRUSTEDROOT:
    case CERT_E_CHAINING:
    case CERT_E_UNTRUSTEDCA:
    case CERT_E_UNTRUSTEDTESTROOT:
      return prefix + "the issuer is not trusted";
    case CERT_E_REVOKED:
    case CRYPT_E_REVOKED:
      return prefix + "the certificate has been revoked";
    case CERT_E_WRONG_USAGE:
      return prefix + "the certificate is not meant for a web server";
    case CERT_E_VALIDITYPERIODNESTING:
      return prefix + "the certificate's validity period does not fit its issuer's";
    case TRUST_E_CERT_SIGNATURE:
      return prefix + "the certificate's signature is not valid";
    case TRUST_E_BASIC_CONSTRAINTS:
      return prefix + "the issuer is not a certificate authority";
    case CERT_E_PATHLENCONST:
      return prefix + "the chain is longer than an issuer allows";
    case CERT_E_INVALID_NAME:
      return prefix + "the certificate is for a name its issuer may not certify";
    case CERT_E_CRITICAL:
      return prefix + "a certificate of the chain has a critical extension that is not understood";
    case CERT_E_INVALID_POLICY:
      return prefix + "the chain does not meet its policy constraints";
    case TRUST_E_EXPLICIT_DISTRUST:
      return prefix + "the certificate is explicitly distrusted";
    case SEC_E_NO_CREDENTIALS:
      return prefix + "the server sent no certificate";
    default:
      return prefix + "[" + Hex(Verdict.Status) + "] the certificate was refused";
  }
}
