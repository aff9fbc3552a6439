// TTcpConnection: a client TCP socket component. It resolves a server name
// and port, connects, sends lines and receives lines and blocks, with a
// time-out and cancellation for every wait. It never blocks inside the socket
// library: lookups and the socket run asynchronously, their notices arrive as
// messages at the component's utility window, and every wait sleeps briefly
// and pumps the thread's messages until its flag is set.
//
// Its code is split by concern: TcpConnection.cpp (opening, connecting,
// closing, errors), TcpWaits.cpp (notices and waits), TcpSending.cpp,
// TcpReceiving.cpp and TcpConnectionTls.cpp (the TLS layer beneath them).
#pragma once

#include "codecs/MemoryStream.h"
#include "codecs/StringList.h"
#include "platform/Component.h"
#include "platform/Timers.h"
#include "platform/UtilityWindow.h"
#include "platform/WinsockApi.h"
#include "tcp/SocketErrors.h"
#include "tcp/TlsSession.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class TTcpConnection : public TComponent {
public:
  using TProgressEvent = std::function<void(TObject* Sender, int Perc, int Transferred)>;
  using TSocketErrorEvent = std::function<void(TObject* Sender, std::string& Msg)>;
  using TLineEvent = std::function<void(TObject* Sender, const std::string& Line)>;

  // Notification messages posted to the utility window.
  static constexpr UINT WM_HOSTLOOKUP = 1172;
  static constexpr UINT WM_SERVICELOOKUP = 1173;
  static constexpr UINT WM_SOCKETEVENT = 1174;

  // Longest host name resolved, and longest line (LF included) ReadLine takes.
  static constexpr size_t MaxHostNameLength = 253;
  static constexpr size_t MaxLineLength = 65536;

  explicit TTcpConnection(TComponent* AOwner = nullptr);
  ~TTcpConnection() override;

  // Published properties.
  bool GetWinsockLoaded() const;
  void SetWinsockLoaded(bool value);
  int GetTimeOut() const { return TimeCounter.TimeOut; }
  void SetTimeOut(int value) { TimeCounter.TimeOut = value; }
  bool SuppressBody = true;         // stored only
  bool CloseOnTimeOutError = true;  // a time-out also aborts pending work and closes

  std::string Server;        // host, optionally ":" and a port
  uint16_t DefaultPort = 0;  // when the service lookup fails
  std::string ServiceName;   // for the port lookup
  std::string LogFileName;   // transfer log, written at destruction when set
  TStringList LogLines;      // every line sent and received while LogFileName is set
  // SHA-256 digests (32 bytes each) of server certificates trusted without a
  // trusted root; the name and the dates still count.
  std::vector<std::string> TrustedCertificates;

  // Events, each fired only when assigned.
  TNotifyEvent OnOpen;
  TNotifyEvent OnConnect;
  TNotifyEvent OnClosing;
  TNotifyEvent OnClosed;
  TNotifyEvent OnCancel;
  TProgressEvent OnProgress;
  TSocketErrorEvent OnError;
  TLineEvent OnLineSent;
  TLineEvent OnLineReceived;

  // Clears Canceled, the time-out flag, AsyncHandle, AsyncError and the six
  // event flags (AsyncErrorCode stays).
  virtual void ResetState();
  // The first three characters of Line as an integer; -1 when not a number.
  virtual int GetReplyCode(const std::string& Line);
  // Checks Server, starts the socket library, resolves host and port, creates the socket.
  virtual void Open();
  virtual void Close();
  virtual void Cancel();

  void Connect();
  // Runs a TLS handshake on the connected socket (HostName is sent as the
  // server name and checked against the certificate); from then on every
  // line and block sent and received goes through the session. Raises on any
  // failure, the certificate's refusal included, before anything else is sent.
  void StartTls(const std::string& HostName);
  // Once a TLS stream has ended: it ended by the server closing the
  // connection, without its closing alert. Anyone on the way can forge such
  // an end, so a body framed only by the end may be cut short.
  bool TlsEndedWithoutAlert() const;
  void SendLine(const std::string& Line);
  // Between these two, SendLine only queues its line (logged and reported as
  // usual) and EndSendBatch sends them all at once: a request's lines then
  // cost one system call instead of one each. The bytes on the wire are the same.
  void BeginSendBatch();
  void EndSendBatch();
  // Receives one line ending in LF (without its line end); returns
  // GetReplyCode of it, -1 when no complete line came.
  int ReadLine(std::string& Line);
  // Whether the last ReadLine got its whole line; false when the peer closed
  // first (its empty Line then says nothing of the server's).
  bool LastLineComplete() const { return FLineComplete; }
  // Appends Count bytes to Stream, or everything until the peer closes when
  // Count is negative; returns how many came (fewer than Count when the peer
  // closed first).
  int64_t ReadBlock(TMemoryStream& Stream, int Count);

  bool HasSocket() const { return SocketHandle != INVALID_SOCKET; }
  void CheckServer();
  std::string HostPart() const;
  int PortPart() const;

  // Writes LogLines to LogFileName when that is set; file errors are ignored.
  void SaveLog();
  // A line of the connection's own in the transfer log (when one is kept).
  void NoteInLog(const std::string& Text);

  // The window the socket library's notices go to, made on the calling
  // thread when there is none (an open socket's notices then follow it).
  HWND WindowHandle();
  // Gives up the windows (notices and the time-out's timer): a pending
  // lookup is abandoned, an open socket stays open without notices until the
  // next wait, on whichever thread, binds it anew.
  void ReleaseWindows();
  // ReleaseWindows when they belong to another thread than the caller's: a
  // component used by one thread after another then gets its notices on the
  // thread that uses it, and no longer on the one before.
  void LeaveOtherThread();

protected:
  // Reports (OnError) and raises ESocketError with the table's text; does
  // nothing for code 0. Code 10054 closes the socket first.
  void RaiseSocketError(uint16_t Code);
  // Reports (OnError) and raises ESocketError with a text of its own.
  [[noreturn]] void RaiseErrorText(const std::string& Text);
  // Reports, optionally aborts and closes, raises ETimedOutError.
  [[noreturn]] void RaiseTimeOut();
  // Reports and raises ECanceledError.
  [[noreturn]] void RaiseCanceled();

  // Turns the socket library's notices into flags.
  void HandleNotification(TMessageRecord& Message);

  void ResolveHost();
  void ResolvePort();
  void CreateSocket();

  // Received bytes not handed out yet, plaintext or not yet decrypted.
  bool HasPendingInput() const;
  // Bytes of the stream handed out by receives (plaintext under TLS) over
  // the component's life: a request whose answer has not begun leaves it as it was.
  uint64_t ReceivedCount() const { return FReceivedCount; }
  // An open socket left idle between requests can take another: no close or
  // error notice came, nothing arrived unasked, and a look at the socket
  // finds it open and empty. Runs one pass of the pump for the notices.
  bool IdleSocketAlive();
  // Called by ReadBlock after each piece it appended to Stream; a reader that
  // consumes the stream as it arrives may empty it here.
  virtual void BlockArrived(TMemoryStream& Stream) { (void)Stream; }
  // Milliseconds of the system's tick count, for idle times.
  static uint32_t NowMs();

  WSADATA StartupData{};
  SOCKET SocketHandle = INVALID_SOCKET;
  HANDLE AsyncHandle = nullptr;
  TTimeCounter TimeCounter;
  uint32_t RemoteAddress = 0;  // IPv4, network byte order
  uint16_t Port = 0;           // host byte order
  // Port taken when Server names none, without a service lookup (0: look it up).
  uint16_t ImpliedPort = 0;
  int StartupCount = 0;

  bool Canceled = false;
  bool HostLookupDone = false;
  bool ServiceLookupDone = false;
  bool Connected = false;
  bool Readable = false;
  bool Writable = false;
  bool Closed = false;
  bool AsyncError = false;
  uint16_t AsyncErrorCode = 0;

private:
  static constexpr DWORD LineSleep = 2;  // ms between idle passes of line reads
  static constexpr DWORD WaitSleep = 3;  // ms between idle passes of every other wait

  // Sets the flags a notice of the open socket tells.
  void NoteSocketEvent(LPARAM Notice);

  HWND FWindowHandle = nullptr;
  bool FNoticesSelected = false;  // the open socket's notices go to FWindowHandle
  // The open socket's connect notice has come. A socket's notices follow its
  // connect notice, and a closed socket's notices still queued come before
  // it, so until then a close or an error notice belongs to an earlier
  // socket that had the same handle.
  bool FConnectNoticed = false;
  // Wall-clock backstop of every wait, should the timer's ticks never come.
  DWORD FWaitStart = 0;
  bool FCounterPending = false;  // the current wait's counter is not armed yet
  uint64_t FWaitLimitMs = 0;
  // Result record of the pending lookup; the library fills it asynchronously.
  std::unique_ptr<char[]> FLookupBuffer;
  // Bytes received but not yet handed out: FReceiveBuffer[FReceiveStart, FReceiveEnd).
  std::vector<char> FReceiveBuffer;
  size_t FReceiveStart = 0;
  size_t FReceiveEnd = 0;
  uint64_t FReceivedCount = 0;
  bool FLineComplete = false;  // see LastLineComplete
  // The TLS session of the open socket, if any, and the credentials it was
  // made with (kept for the object's next sessions).
  std::unique_ptr<TTlsCredentials> FTlsCredentials;
  std::unique_ptr<TTlsSession> FTls;
  bool FTlsPeerClosed = false;
  // Lines queued by SendLine while a send batch is open.
  bool FBatching = false;
  std::string FSendBatch;

  void StartWait();
  void RestartWait();
  void StartBackstop();
  void StopWait();
  bool WaitTimedOut();
  void WaitFor(const bool& flag, bool endOnAsyncError, bool endOnClose, DWORD sleepMs);
  void StartLookup(bool host, const std::string& name);
  void AbandonLookup();
  bool AwaitLookup(const bool& done);
  void RaiseLastError(uint16_t fallback);
  size_t Buffered() const { return FReceiveEnd - FReceiveStart; }
  void DiscardReceived();
  bool HasBufferedLine() const;
  bool TakeBufferedLine(std::string& Line);
  int ReceiveIntoBuffer(int& Error);
  // One receive of at most Size bytes of the stream (decrypted under TLS):
  // the count, 0 when the peer has closed, or SOCKET_ERROR with Error set.
  int ReceiveSome(char* Target, int Size, int& Error);
  int ReceiveDecrypted(char* Target, int Size, int& Error);
  int ReceiveTlsInput(int& Error);
  [[noreturn]] void RaiseTlsStatus(long Status, const char* Step);
  // Checks the server's certificate after the first handshake (TLS layer).
  void VerifyServer();
  // Sends all of data, in a wait of its own, or within the caller's wait
  // (ownWait false: its period goes on, and ends this send too).
  void SendRaw(const std::string& data, bool ownWait = true);
  void FinishLine(const std::string& Line);
  void SendBytes(const std::string& data);
  void FireProgress(int Perc, int64_t Transferred);
  void FireError(std::string& Msg);
  void CloseSocketQuietly();
  void EndTls();
};
