// TConn: the behaviour behind the scriptable object Kestrel.Conn, one method
// per IConn member. It works in 8-bit text, bool and int; the COM glue
// (ConnObject) converts BSTRs and VARIANT_BOOLs, clears out parameters and
// turns every exception into a COM error, so methods here just throw. The
// exceptions are GetURL, BinaryData, GetHREFs and Response: scripts learn of
// their failures through Error() or an empty result, never a COM error.
//
// Property get/put pairs are named after the property: Protocol() reads it,
// SetProtocol() writes it.
//
// Texts: those marked UTF-8 below keep every character. They are the texts
// the charset mode sends in one form or another (URL, PostData,
// Authorization, ProxyPassword, the URL codec's) and file names. The object
// keeps them whole and gives the client their form for the mode before each
// request: the system ANSI code page with Charset "", else UTF-8 (PostData
// in its charset). With Charset "" their getters give what the system code
// page keeps of them, as always. Every other text is in the ANSI code page.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "Variant.h"
#include "codecs/Charsets.h"

class THttpClient;

// A response body as text: its bytes and the charset they are read in.
struct TResponseText {
  std::string_view Bytes;
  TCharsetChoice Charset;  // no charset: the system ANSI code page
};

class TConn {
public:
  TConn();
  ~TConn();
  TConn(const TConn&) = delete;
  TConn& operator=(const TConn&) = delete;

  // Request driver. A failure of the exchange, or of saving its body,
  // gives an empty result and its message in Error().
  // The body as text: a view of the response body, valid until the next
  // request, with the charset it is read in; nothing when asText is false
  // (the exchange alone, for BinaryData, a file or the links).
  TResponseText GetURL(bool asText = true);
  // Records a failure of GetURL's result that only the COM boundary meets
  // (converting the body to a BSTR).
  void RecordError(const std::string& message);
  // Called as a call from a thread begins: what belongs to another thread
  // (the windows of socket notices and of the time-out) is given up, and the
  // call makes its own on this one when it needs them.
  void FollowCallingThread();

  // Request properties (stored in the HTTP client).
  std::string Protocol();
  void SetProtocol(const std::string& value);
  std::string URL();  // UTF-8
  void SetURL(const std::string& value);
  std::string FileName();  // UTF-8
  bool FollowRedirects();
  void SetFollowRedirects(bool value);
  int Port();
  void SetPort(int value);
  std::string Proxy();
  void SetProxy(const std::string& value);
  int TimeOut();
  void SetTimeOut(int value);
  std::string PostData();  // UTF-8
  void SetPostData(const std::string& value);
  std::string Accept();
  void SetAccept(const std::string& value);
  std::string UserAgent();
  void SetUserAgent(const std::string& value);
  std::string RequestMethod();
  void SetRequestMethod(const std::string& value);
  std::string ContentType();
  void SetContentType(const std::string& value);
  std::string Authorization();  // UTF-8
  void SetAuthorization(const std::string& value);
  std::string ProxyPassword();  // UTF-8
  void SetProxyPassword(const std::string& value);
  std::string HTTPLog();  // UTF-8
  void SetHTTPLog(const std::string& value);
  std::string ExtraHeaders();
  void AddExtraHeader(const std::string& header);
  void ClearExtraHeaders();
  std::string SaveFileTo();  // UTF-8
  void SetSaveFileTo(const std::string& value);

  // The last response. BinaryData and GetHREFs clear Error() first; on a
  // failure they leave its message there and give VT_NULL and VT_EMPTY.
  std::string Headers();
  std::string GetHeader(const std::string& name);
  std::string Response();
  TVariant BinaryData();
  std::string Error();

  // Links of the last response body: with Charset "" in the system code
  // page, else read in the body's charset, references giving the real
  // character.
  TVariant GetHREFs();
  TVariant GetHREFNames();

  // IConn2: opt-in behaviours; at their defaults every request and result
  // stays as IConn alone gives them.
  // The charset of text (UTF-8): "" (the system code page), "auto" (what
  // each response says) or a charset label. An unknown label, or one whose
  // code page is not installed, raises "Unknown charset: LABEL" and changes
  // nothing.
  std::string Charset();
  void SetCharset(const std::string& value);
  // The WHATWG name of the charset the last response's text is read in; ""
  // before the first response and after a failed request.
  std::string ResponseCharset();
  bool KeepAlive();
  void SetKeepAlive(bool value);
  bool Compression();
  void SetCompression(bool value);
  bool KeepCookies();
  void SetKeepCookies(bool value);
  // The cookie store as text in the cookie file format of curl and wget. A
  // put replaces the store, or fails naming the first line not in the
  // format and leaves the store as it was.
  std::string Cookies();
  void SetCookies(const std::string& value);
  // SHA-256 fingerprints of server certificates trusted without a trusted
  // root (codecs/Fingerprints.h gives the form), read back as put. A value
  // that is no such list raises "Not a SHA-256 fingerprint (64 hexadecimal
  // digits): ENTRY" and changes nothing.
  std::string TrustedCertificates();
  void SetTrustedCertificates(const std::string& value);

  // Members that need no state. UTF-8 in and out: with Charset "" the URL
  // codec works on the system code page's bytes, else on UTF-8.
  std::string Version();
  std::string URLEncode(const std::string& value);
  std::string URLDecode(const std::string& value);

private:
  // Where the charset of the current body stands.
  enum class TDecision { None, Pending, Made };

  // Texts below the boundary are UTF-8 unless Charset is "".
  bool TextsInUtf8() const { return !charset_.empty(); }
  // A kept text (UTF-8) as the client sends it in this mode.
  std::string ToClientText(const std::string& text) const;
  // The client's URL := the text in the mode's form; raises "Invalid URL"
  // and changes nothing when it cannot take it.
  void SetClientUrl(const std::string& text);
  // The client's URL bytes back to UTF-8, by the form the client holds.
  std::string FromClientUrl(const std::string& bytes) const;
  // What a getter gives of a kept text: with Charset "" what the system code
  // page keeps of it, else the text itself.
  std::string ScriptText(const std::string& text) const;
  // A failure's message for Error: one that names SaveFileTo's path (UTF-8)
  // in the ANSI code page.
  std::string FailureText(const std::string& message) const;
  // Before each request: the client gets the kept texts in the mode's form.
  // Raises when the URL's host or PostData cannot be sent in it.
  void PrepareRequest();
  std::string EncodedPostData() const;
  // The charset the current body is read in, decided once per response.
  const TCharsetChoice& ResponseChoice();
  TCharsetChoice ChooseCharset() const;
  std::string_view BodyBytes() const;

  // Nearly every property above reads or writes the client, which lives as
  // long as the object; destroying it writes the transfer log.
  std::unique_ptr<THttpClient> client_;
  bool requestRunning_ = false;  // a GetURL is waiting on the network
  std::string saveFileTo_;       // the path (UTF-8) the next successful GetURL writes the body to
  std::string error_;            // the text of the last recorded failure
  TPackedTexts hrefNames_;       // link texts of the last successful GetHREFs
  TTextForm hrefNamesForm_ = TTextForm::Ansi;
  bool hasHrefNames_ = false;    // none before the first
  // The script's texts, UTF-8, kept whole whatever the mode.
  std::string url_;          // as put, or the last redirect's target
  std::string scriptUrl_;    // as put: its origin is the credentials
  std::string clientUrl_;    // the client's URL bytes when url_ was last in step with them
  std::string postData_;
  std::string authorization_;
  std::string proxyPassword_;
  std::string charset_;                     // as put
  const TCharset* namedCharset_ = nullptr;  // what a label names; null for "" and "auto"
  TDecision decision_ = TDecision::None;
  TCharsetChoice responseChoice_;
  std::string responseCharset_;
  std::string trustedCertificates_;  // as put
};
