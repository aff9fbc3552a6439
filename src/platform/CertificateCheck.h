// A server certificate's chain checked on a thread of the system's pool.
// Building a chain may fetch a missing issuer from an address the certificate
// names, for as long as the chain engine likes (Wine's ignores the retrieval
// time-out it is given and waits for minutes): the caller's thread goes on
// pumping its messages meanwhile and gives up at its own time-out.
#pragma once

#include "platform/SecurityApi.h"

#include <cstdint>
#include <string>

// What the caller and the pool thread share (CertificateCheck.cpp).
struct TCertificateCheckState;

class TCertificateCheck {
public:
  // Starts the check of Certificate for HostName (SecurityApi loaded); each
  // fetch of an issuer is asked to end after UrlTimeoutMs; ForgiveIssuer as
  // for VerifyServerCertificate. Short of a pool thread, the check runs here
  // and is done on return.
  TCertificateCheck(PCCERT_CONTEXT Certificate, const std::string& HostName, uint32_t UrlTimeoutMs,
                    bool ForgiveIssuer);
  // A check still running is left to finish on its own; it then frees what it holds.
  ~TCertificateCheck();
  TCertificateCheck(const TCertificateCheck&) = delete;
  TCertificateCheck& operator=(const TCertificateCheck&) = delete;

  bool Done() const;
  // Waits at most Milliseconds for the check to end or a message to arrive.
  void Wait(DWORD Milliseconds) const;
  // The chain engine's verdict, once Done.
  const TCertificateVerdict& Verdict() const;

private:
  TCertificateCheckState* FShared;
};
