#include "Conn.h"

#include "CharsetText.h"
#include "ComError.h"
#include "TextBoundary.h"
#include "codecs/Exception.h"
#include "codecs/Fingerprints.h"
#include "codecs/TextHelpers.h"
#include "codecs/UrlCodec.h"
#include "html/LinkExtractor.h"
#include "http/CookieFile.h"
#include "http/HttpClient.h"

#include <ctime>

namespace {

// Marks the object busy for the length of one request.
class TRequestGuard {
public:
  explicit TRequestGuard(bool& running) : running_(running) { running_ = true; }
  ~TRequestGuard() { running_ = false; }
  TRequestGuard(const TRequestGuard&) = delete;
  TRequestGuard& operator=(const TRequestGuard&) = delete;

private:
  bool& running_;
};

}  // namespace

TConn::TConn() : client_(new THttpClient(nullptr)) {}

TConn::~TConn()
{
  // Destroying the client writes the transfer log; nothing may leave a
  // destructor.
  try {
    client_.reset();
  } catch (...) {
  }
}

void TConn::FollowCallingThread() { client_->LeaveOtherThread(); }

// ---------------------------------------------------------------------------
// Request driver

TResponseText TConn::GetURL(bool asText)
{
  // A request pumps the thread's messages while it waits; a call dispatched
  // in that window must not start a second exchange on the same connection.
  if (requestRunning_) {
    error_ = "A request is already running on this object";
    return {};
  }
  TRequestGuard guard(requestRunning_);
  THttpClient& client = *client_;
  decision_ = TDecision::None;
  responseCharset_.clear();
  try {
    PrepareRequest();  // nothing is sent when the texts cannot go out
  } catch (...) {
    error_ = DescribeCurrentException();
    return {};
  }
  // A compressed body to be saved is decoded straight into the file: one
  // that expands without bound never has to fit in memory.
  client.DecodedBodyFile = saveFileTo_;
  const bool done = client.Execute();
  client.DecodedBodyFile.clear();
  // A redirect leaves its target in the client: the kept URL follows it.
  if (client.URL() != clientUrl_) {
    url_ = FromClientUrl(client.URL());
    clientUrl_ = client.URL();
  }
  if (!done) {
    error_ = FailureText(client.LastError);
    // A body that broke off still goes to the file as far as it came; the
    // error says it is incomplete, and SaveFileTo stays set for a retry. A
    // file that cannot be written does not replace that error.
    if (!saveFileTo_.empty() && client.BodyIncomplete()) {
      try {
        client.Body.SaveToFile(saveFileTo_);
      } catch (...) {
      }
    }
    return {};
  }
  decision_ = TDecision::Pending;
  // A failure from here on (the file, memory) is not the exchange's: the
  // body stays for BinaryData and the links, the message goes to Error and
  // the result stays empty, which is how a script tells a failure.
  try {
    if (!saveFileTo_.empty()) {
      if (!client.BodyInFile()) client.Body.SaveToFile(saveFileTo_);
      saveFileTo_.clear();
      return {};
    }
    if (!asText) return {};  // the charset is decided when first asked for
    return TResponseText{BodyBytes(), ResponseChoice()};
  } catch (...) {
    error_ = FailureText(DescribeCurrentException());
    return {};
  }
}

// The messages of SaveFileTo's file name its path, which is kept in UTF-8;
// Error, like every other text, is in the ANSI code page.
std::string TConn::FailureText(const std::string& message) const
{
  const bool namesTheFile = !saveFileTo_.empty() && message.size() > saveFileTo_.size() &&
                            message.compare(message.size() - saveFileTo_.size(), saveFileTo_.size(), saveFileTo_) == 0 &&
                            message.compare(0, 7, "Cannot ") == 0;
  return namesTheFile ? Utf8ToAnsi(message) : message;
}

void TConn::RecordError(const std::string& message) { error_ = message; }

// ---------------------------------------------------------------------------
// Request properties

std::string TConn::Protocol() { return client_->Protocol; }
void TConn::SetProtocol(const std::string& value) { client_->Protocol = value; }

// The client holds the URL in the form of the mode it was last set in; one
// set in the other mode is set again before the next request.
std::string TConn::URL()
{
  return client_->Utf8Urls == TextsInUtf8() ? FromClientUrl(client_->URL()) : ScriptText(url_);
}

void TConn::SetURL(const std::string& value) { SetClientUrl(value); }

std::string TConn::FileName() { return FromClientUrl(client_->FileName()); }

bool TConn::FollowRedirects() { return client_->FollowRedirects; }
void TConn::SetFollowRedirects(bool value) { client_->FollowRedirects = value; }

// The port is a 16-bit value: only the low 16 bits of a put are kept.
int TConn::Port() { return client_->DefaultPort; }
void TConn::SetPort(int value) { client_->DefaultPort = static_cast<uint16_t>(value); }

std::string TConn::Proxy() { return client_->Proxy(); }
void TConn::SetProxy(const std::string& value) { client_->SetProxy(value); }

int TConn::TimeOut() { return client_->GetTimeOut(); }
void TConn::SetTimeOut(int value) { client_->SetTimeOut(value); }

std::string TConn::PostData() { return ScriptText(postData_); }
void TConn::SetPostData(const std::string& value) { postData_ = value; }

std::string TConn::Accept() { return client_->Accept; }
void TConn::SetAccept(const std::string& value) { client_->Accept = value; }

std::string TConn::UserAgent() { return client_->UserAgent; }
void TConn::SetUserAgent(const std::string& value) { client_->UserAgent = value; }

std::string TConn::RequestMethod() { return client_->RequestMethod; }
void TConn::SetRequestMethod(const std::string& value) { client_->RequestMethod = value; }

std::string TConn::ContentType() { return client_->ContentType(); }
void TConn::SetContentType(const std::string& value) { client_->SetContentType(value); }

std::string TConn::Authorization() { return ScriptText(authorization_); }
void TConn::SetAuthorization(const std::string& value) { authorization_ = value; }

std::string TConn::ProxyPassword() { return ScriptText(proxyPassword_); }
void TConn::SetProxyPassword(const std::string& value) { proxyPassword_ = value; }

std::string TConn::HTTPLog() { return client_->LogFileName; }
void TConn::SetHTTPLog(const std::string& value) { client_->LogFileName = value; }

std::string TConn::ExtraHeaders() { return client_->ExtraHeaders.Text(); }

void TConn::AddExtraHeader(const std::string& header)
{
  if (!header.empty()) client_->ExtraHeaders.Add(header);
}

void TConn::ClearExtraHeaders() { client_->ExtraHeaders.Clear(); }

std::string TConn::SaveFileTo() { return saveFileTo_; }
void TConn::SetSaveFileTo(const std::string& value) { saveFileTo_ = value; }

// ---------------------------------------------------------------------------
// The last response

std::string TConn::Headers() { return client_->Headers.Text(); }

// Its own prefix match, not anchored at the colon: "Content" finds the first
// Content-* line, a name with its colon matches too, and "" the status line.
std::string TConn::GetHeader(const std::string& name)
{
  const std::string key = AsciiUpperCase(name);
  for (const std::string& line : client_->Headers.Lines()) {
    if (AsciiUpperCase(line.substr(0, key.size())) != key) continue;
    const size_t colon = line.find(':');
    std::string value = colon == std::string::npos ? line : line.substr(colon + 1);
    if (!value.empty() && value[0] == ' ') value.erase(0, 1);
    return value;
  }
  return std::string();
}

std::string TConn::Response()
{
  // Reading the status line never fails a script: any failure gives "".
  try {
    const THeaderList& headers = client_->Headers;
    return headers.Count() >= 2 ? headers[0] : std::string();
  } catch (...) {
    return std::string();
  }
}

TVariant TConn::BinaryData()
{
  error_.clear();
  try {
    TMemoryStream& body = client_->Body;
    TVariant bytes = MakeByteArray(body.Memory(), static_cast<size_t>(body.Size()));
    // Read as a whole: the position ends where a reader of the stream leaves it.
    body.SetPosition(body.Size());
    return bytes;
  } catch (...) {
    error_ = DescribeCurrentException();
    return TVariant::Null();
  }
}

std::string TConn::Error() { return error_; }

// ---------------------------------------------------------------------------
// Links of the last response body

TVariant TConn::GetHREFs()
{
  error_.clear();
  try {
    const TTextForm form = TextsInUtf8() ? TTextForm::Utf8 : TTextForm::Ansi;
    // Each target becomes a BSTR as it is found: no 8-bit copy of the list.
    TBstrList targets(form);
    TPackedTexts texts;  // end to end: not one allocation per text
    std::string failure;
    const auto found = [&](std::string_view target, std::string& text) {
      targets.Add(target);
      texts.Add(text);
    };
    bool extracted;
    if (form == TTextForm::Ansi) {
      extracted = ExtractLinks(client_->Body, found, failure);
    } else {
      // Links are read in UTF-8: a body in another charset is read as if
      // transcoded to it, one in UTF-8 where it lies.
      const TCharsetChoice& choice = ResponseChoice();
      std::string transcoded;
      std::string_view document = BodyBytes().substr(choice.MarkLength);
      if (!choice.Charset || choice.Charset->Kind != TCharsetKind::Utf8) {
        transcoded = DecodeToUtf8(BodyBytes(), choice);
        document = transcoded;
      }
      client_->Body.SetPosition(client_->Body.Size());
      extracted = ExtractLinks(document, TReferenceForm::Unicode, found, failure);
    }
    if (!extracted) {
      error_ = failure;
      return TVariant();
    }
    TVariant array = targets.TakeArray();
    hrefNames_ = std::move(texts);
    hrefNamesForm_ = form;
    hasHrefNames_ = true;
    return array;
  } catch (...) {
    error_ = DescribeCurrentException();
    return TVariant();
  }
}

// The array is made from the texts at each call: every caller gets an array
// of its own, as a copy would give, and GetHREFs need not make one that may
// never be asked for.
TVariant TConn::GetHREFNames() { return hasHrefNames_ ? MakeTextArray(hrefNames_, hrefNamesForm_) : TVariant(); }

// ---------------------------------------------------------------------------
// IConn2

bool TConn::KeepAlive() { return client_->KeepAlive; }
void TConn::SetKeepAlive(bool value) { client_->SetKeepAlive(value); }

bool TConn::Compression() { return client_->Compression; }
void TConn::SetCompression(bool value) { client_->Compression = value; }

bool TConn::KeepCookies() { return client_->KeepCookies; }
void TConn::SetKeepCookies(bool value) { client_->KeepCookies = value; }

// The store reads and writes whether or not KeepCookies is on: a script can
// carry a login from one object to the next.
std::string TConn::Cookies() { return CookieFileText(client_->Cookies, std::time(nullptr)); }
void TConn::SetCookies(const std::string& value) { LoadCookieFileText(client_->Cookies, value, std::time(nullptr)); }

std::string TConn::TrustedCertificates() { return trustedCertificates_; }

void TConn::SetTrustedCertificates(const std::string& value)
{
  std::vector<std::string> digests;
  std::string bad;
  if (!ParseFingerprintList(value, digests, bad))
    throw Exception("Not a SHA-256 fingerprint (64 hexadecimal digits): " + bad);
  client_->SetTrustedCertificates(digests);
  trustedCertificates_ = value;
}

// ---------------------------------------------------------------------------
// Members that need no state

std::string TConn::Version() { return "3.50"; }

std::string TConn::URLEncode(const std::string& value) { return ::URLEncode(ToClientText(value)); }

std::string TConn::URLDecode(const std::string& value)
{
  if (!TextsInUtf8()) return AnsiToUtf8(::URLDecode(Utf8ToAnsi(value)));
  try {
    return ::URLDecode(value);  // the decoded bytes are read as UTF-8 at the boundary
  } catch (const EConvertError& e) {
    throw EConvertError(Utf8ToAnsi(e.Message()));  // failure texts are in the ANSI code page
  }
}
