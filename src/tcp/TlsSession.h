// TTlsSession: the TLS client side of one connection, over the platform's
// security package. It does no input or output of its own: the connection
// puts the bytes it receives into the session's input buffer and sends what
// the session hands back, so that every wait stays in the connection, bounded
// by its time-out and driven by its socket notices like every other wait.
//
// Status results are the security package's codes (0 for success); the
// connection turns a failure into its message.
#pragma once

#include "platform/CertificateCheck.h"
#include "platform/SecurityApi.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// Servers whose certificate was verified lately, by the certificate's bytes and
// the host name it was verified for. Building and checking a chain (its
// signatures included) costs more than the rest of a handshake, and an object
// talks to the same few servers over and over. An entry counts only for a
// while, so that a change of the machine's trust shows soon, and never beyond
// the certificate's own validity. One accepted for its listed fingerprint
// counts only while the list still names it.
class TVerifiedServers {
public:
  static constexpr size_t MaxEntries = 16;
  static constexpr uint32_t LifetimeMs = 10 * 60 * 1000;

  // Listed: the certificate's fingerprint is trusted now. IssuerForgiven
  // tells how the entry found was accepted.
  bool Contains(PCCERT_CONTEXT Certificate, const std::string& HostName, bool Listed, bool& IssuerForgiven) const;
  void Add(PCCERT_CONTEXT Certificate, const std::string& HostName, bool IssuerForgiven);

private:
  struct TEntry {
    std::string Certificate;  // the encoded certificate
    std::string HostName;
    uint32_t VerifiedAt;      // GetTickCount
    bool IssuerForgiven;      // accepted for its fingerprint
  };
  std::vector<TEntry> FEntries;  // oldest first
};

// The client credentials of the security package: one set per connection
// object, kept across its exchanges (the package may resume sessions made
// with the same set), with the servers it has verified.
class TTlsCredentials {
public:
  TTlsCredentials() = default;
  ~TTlsCredentials();
  TTlsCredentials(const TTlsCredentials&) = delete;
  TTlsCredentials& operator=(const TTlsCredentials&) = delete;

  // 0 on success, else the package's code.
  long Acquire();
  bool Acquired() const { return FAcquired; }
  CredHandle* Handle() { return &FHandle; }
  TVerifiedServers Verified;

private:
  CredHandle FHandle{};
  bool FAcquired = false;
};

class TTlsSession {
public:
  enum class TState { Handshaking, Established, Ended };
  // NeedInput: nothing more can be done before the next bytes arrive. More:
  // buffered input is left, to be fed again once the caller has pumped and
  // looked at its time-out. Stalled: the package took none of the input and
  // gave nothing back, so feeding it again would change nothing. Done: the
  // handshake is complete (Handshake), a record was taken (Decrypt).
  enum class TProgress { NeedInput, More, Stalled, Done };

  // HostName is sent as the server name (SNI) and checked against the certificate.
  TTlsSession(TTlsCredentials& Credentials, const std::string& HostName);
  ~TTlsSession();
  TTlsSession(const TTlsSession&) = delete;
  TTlsSession& operator=(const TTlsSession&) = delete;

  TState State() const { return FState; }
  // A handshake the server started after the first one is under way.
  bool Renegotiating() const { return FRenegotiating; }
  const std::string& HostName() const { return FHostName; }

  // The client's first handshake message, appended to Output.
  long Begin(std::string& Output);
  // Feeds the buffered input to the handshake (the first one, or one the
  // server started later), however many records it holds; appends what must
  // be sent to Output. Progress is Done once the session is established.
  long Handshake(std::string& Output, TProgress& Progress);

  // Room at the end of the input buffer for the next receive, and the count
  // that receive stored there.
  char* InputSpace(size_t& Size);
  void InputReceived(size_t Count);
  // Bytes received and not yet turned into plaintext (a record or part of one).
  size_t PendingInput() const { return FInputEnd - FInputStart; }

  // Decrypts the next buffered record. Progress is NeedInput when no whole
  // record is buffered; plaintext, possibly none (an empty record, a
  // handshake message), is then available through TakePlain. After the
  // server's closing alert the state is Ended. A handshake message from the
  // server switches back to Handshaking: its answer goes to Output, and
  // Progress may be More or Stalled as for Handshake.
  long Decrypt(std::string& Output, TProgress& Progress);
  size_t PlainAvailable() const { return FPlainLength; }
  size_t TakePlain(char* Target, size_t Size);

  // Encrypts Data into records appended to Output.
  long Encrypt(const char* Data, size_t Size, std::string& Output);
  // The closing alert, appended to Output; nothing when it cannot be made.
  void Shutdown(std::string& Output);

  // Starts the check of the server's certificate for HostName, on a thread of
  // the system's pool unless the credentials remember an earlier good one
  // (UrlTimeoutMs: see TCertificateCheck). A certificate whose SHA-256
  // digest is one of TrustedDigests needs no trusted root. The certificate
  // is kept, to hold the server to it in later handshakes.
  void BeginVerify(uint32_t UrlTimeoutMs, const std::vector<std::string>& TrustedDigests);
  // The check BeginVerify started, while it runs; null once it is decided.
  const TCertificateCheck* RunningVerify() const;
  // The verdict, once decided; a good one is remembered by the credentials.
  TCertificateVerdict EndVerify();
  // A handshake the server started after the first one ended with another
  // certificate than the one checked (other bytes): the session must end.
  bool CertificateChanged() const { return FCertificateChanged; }

  // The input buffer: room for a whole record of the largest size TLS allows
  // and more, so that records arrive in large pieces. It starts at
  // InputCapacity and doubles, up to MaxInputCapacity, while receives fill it.
  static constexpr size_t MaxRecordSize = 5 + 16384 + 2048;
  static constexpr size_t InputCapacity = 64 * 1024 + MaxRecordSize;
  static constexpr size_t MaxInputCapacity = 1024 * 1024 + MaxRecordSize;

private:
  // One call of the package's handshake function on Input (none for the
  // first call and the closing alert); its token is appended to Token.
  long Initialize(SecBufferDesc* Input, std::string& Token);
  long Step(std::string& Output, TProgress& Progress);
  long QuerySizes();
  // The server's certificate now is the one checked after the first handshake.
  bool SameServerCertificate();
  void Consume(size_t Count);
  void Compact();

  TTlsCredentials& FCredentials;
  std::string FHostName;
  // The server's certificate of the first handshake, encoded; and while it
  // is checked, its context and the check.
  std::string FServerCertificate;
  PCCERT_CONTEXT FVerifying = nullptr;
  std::unique_ptr<TCertificateCheck> FCheck;
  TCertificateVerdict FVerdict;
  bool FCertificateChanged = false;
  CtxtHandle FContext{};
  bool FHasContext = false;
  TState FState = TState::Handshaking;
  bool FRenegotiating = false;
  SecPkgContext_StreamSizes FSizes{};

  // Received bytes: [FInputStart, FInputEnd) are not processed yet. Decrypted
  // plaintext stays in place before FInputStart until it is taken.
  std::vector<char> FInput;
  size_t FCapacity = InputCapacity;  // the size FInput is given
  size_t FInputStart = 0;
  size_t FInputEnd = 0;
  const char* FPlain = nullptr;
  size_t FPlainLength = 0;
};

// "[0x80090308] TLS handshake failed: ..." and the like: the package's code in
// hexadecimal, the step, and a short meaning.
std::string TlsErrorText(long Status, const std::string& Step);
// "Certificate error: ..." for a verdict that refuses the certificate.
std::string CertificateErrorText(const TCertificateVerdict& Verdict);
