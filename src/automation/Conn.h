// TConn: the behaviour behind the scriptable object Kestrel.Conn, one method
// per IConn member. It works in 8-bit ANSI text, bool and int; the COM glue
// (ConnObject) converts BSTRs and VARIANT_BOOLs, clears out parameters and
// turns every exception into a COM error, so methods here just throw. The
// exceptions are GetURL, BinaryData, GetHREFs and Response: scripts learn of
// their failures through Error() or an empty result, never a COM error.
//
// Property get/put pairs are named after the property: Protocol() reads it,
// SetProtocol() writes it.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "Variant.h"

class THttpClient;

class TConn {
public:
  TConn();
  ~TConn();
  TConn(const TConn&) = delete;
  TConn& operator=(const TConn&) = delete;

  // Request driver. A failure of the exchange, or of saving its body,
  // gives an empty result and its message in Error().
  // The body as text: a view of the response body, valid until the next request.
  std::string_view GetURL();
  // Records a failure of GetURL's result that only the COM boundary meets
  // (converting the body to a BSTR).
  void RecordError(const std::string& message);

  // Request properties (stored in the HTTP client).
  std::string Protocol();
  void SetProtocol(const std::string& value);
  std::string URL();
  void SetURL(const std::string& value);
  std::string FileName();
  bool FollowRedirects();
  void SetFollowRedirects(bool value);
  int Port();
  void SetPort(int value);
  std::string Proxy();
  void SetProxy(const std::string& value);
  int TimeOut();
  void SetTimeOut(int value);
  std::string PostData();
  void SetPostData(const std::string& value);
  std::string Accept();
  void SetAccept(const std::string& value);
  std::string UserAgent();
  void SetUserAgent(const std::string& value);
  std::string RequestMethod();
  void SetRequestMethod(const std::string& value);
  std::string ContentType();
  void SetContentType(const std::string& value);
  std::string Authorization();
  void SetAuthorization(const std::string& value);
  std::string ProxyPassword();
  void SetProxyPassword(const std::string& value);
  std::string HTTPLog();
  void SetHTTPLog(const std::string& value);
  std::string ExtraHeaders();
  void AddExtraHeader(const std::string& header);
  void ClearExtraHeaders();
  std::string SaveFileTo();
  void SetSaveFileTo(const std::string& value);

  // The last response. BinaryData and GetHREFs clear Error() first; on a
  // failure they leave its message there and give VT_NULL and VT_EMPTY.
  std::string Headers();
  std::string GetHeader(const std::string& name);
  std::string Response();
  TVariant BinaryData();
  std::string Error();

  // Links of the last response body.
  TVariant GetHREFs();
  TVariant GetHREFNames();

  // IConn2: opt-in behaviours; at their defaults every request and result
  // stays as IConn alone gives them.
  // The charset of text: "" (the system code page), "auto" (what each
  // response says) or a charset label.
  std::string Charset();
  void SetCharset(const std::string& value);
  // The charset the last response's text was decoded with; "" before any.
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

  // Members that need no state.
  std::string Version();
  std::string URLEncode(const std::string& value);
  std::string URLDecode(const std::string& value);

private:
  // Nearly every property above reads or writes the client, which lives as
  // long as the object; destroying it writes the transfer log.
  std::unique_ptr<THttpClient> client_;
  bool requestRunning_ = false;  // a GetURL is waiting on the network
  std::string saveFileTo_;       // the path the next successful GetURL writes the body to
  std::string error_;            // the text of the last recorded failure
  TPackedTexts hrefNames_;     // link texts of the last successful GetHREFs
  bool hasHrefNames_ = false;  // none before the first
  std::string charset_;
  std::string responseCharset_;
};
