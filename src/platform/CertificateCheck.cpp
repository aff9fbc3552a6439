#include "platform/CertificateCheck.h"

#include "platform/ThisModule.h"

// Shared by the caller and the pool thread; the last one to let go frees it.
struct TCertificateCheckState {
  PCCERT_CONTEXT Certificate = nullptr;  // a reference of the check's own
  std::string HostName;
  uint32_t UrlTimeoutMs = 0;
  bool ForgiveIssuer = false;
  HANDLE Finished = nullptr;  // manual reset; null when none could be had (the check then runs on the caller's thread)
  TCertificateVerdict Verdict;
  volatile LONG Done = 0;
  volatile LONG References = 1;
};

namespace {

void Release(TCertificateCheckState* shared)
{
  if (InterlockedDecrement(&shared->References) != 0) return;
  SecurityApi.FreeCertificate(shared->Certificate);
  if (shared->Finished) CloseHandle(shared->Finished);
  delete shared;
}

void Run(TCertificateCheckState* shared)
{
  shared->Verdict = SecurityApi.VerifyServerCertificate(shared->Certificate, shared->HostName, shared->UrlTimeoutMs,
                                                            shared->ForgiveIssuer);
  InterlockedExchange(&shared->Done, 1);
  if (shared->Finished) SetEvent(shared->Finished);
}

void CALLBACK Check(PTP_CALLBACK_INSTANCE instance, void* context)
{
  auto* shared = static_cast<TCertificateCheckState*>(context);
  // The module stays loaded until this callback has returned.
  FreeLibraryWhenCallbackReturns(instance, ThisModule());
  Run(shared);
  Release(shared);
  CountModuleUse(false);  // what is left of the callback runs on the module's own reference
}

}  // namespace

TCertificateCheck::TCertificateCheck(PCCERT_CONTEXT Certificate, const std::string& HostName, uint32_t UrlTimeoutMs,
                                     bool ForgiveIssuer)
    : FShared(new TCertificateCheckState)
{
  FShared->Certificate = SecurityApi.DuplicateCertificate(Certificate);
  FShared->HostName = HostName;
  FShared->UrlTimeoutMs = UrlTimeoutMs;
  FShared->ForgiveIssuer = ForgiveIssuer;
  FShared->Finished = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (FShared->Finished && AddModuleReference()) {
    InterlockedIncrement(&FShared->References);
    CountModuleUse(true);
    if (TrySubmitThreadpoolCallback(Check, FShared, nullptr)) return;
    CountModuleUse(false);
    InterlockedDecrement(&FShared->References);
    FreeLibrary(ThisModule());
  }
  Run(FShared);
}

TCertificateCheck::~TCertificateCheck() { Release(FShared); }

bool TCertificateCheck::Done() const { return InterlockedCompareExchange(&FShared->Done, 0, 0) != 0; }

void TCertificateCheck::Wait(DWORD Milliseconds) const
{
  if (Done()) return;
  if (FShared->Finished)
    MsgWaitForMultipleObjects(1, &FShared->Finished, FALSE, Milliseconds, QS_ALLINPUT);
  else
    MsgWaitForMultipleObjects(0, nullptr, FALSE, Milliseconds, QS_ALLINPUT);
}

const TCertificateVerdict& TCertificateCheck::Verdict() const { return FShared->Verdict; }
