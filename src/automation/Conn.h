// TConn: the behaviour behind the scriptable object Kestrel.Conn, one method
// per IConn member. It works in 8-bit ANSI text, bool and int; the COM glue
// (ConnObject) converts BSTRs and VARIANT_BOOLs, clears out parameters and
// turns every exception into a COM error, so methods here just throw.
//
// Property get/put pairs are named after the property: Protocol() reads it,
// SetProtocol() writes it.
#pragma once

#include <string>

#include "Variant.h"

class TConn {
public:
  TConn();
  ~TConn();
  TConn(const TConn&) = delete;
  TConn& operator=(const TConn&) = delete;

  // Request driver.
  std::string GetURL();

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

  // The last response.
  std::string Headers();
  std::string GetHeader(const std::string& name);
  std::string Response();
  TVariant BinaryData();
  std::string Error();

  // Links of the last response body.
  TVariant GetHREFs();
  TVariant GetHREFNames();

  // Members that need no state.
  std::string Version();
  std::string URLEncode(const std::string& value);
  std::string URLDecode(const std::string& value);

private:
  // The object's HTTP client (THttpClient) will live here, created by the
  // constructor and destroyed first by the destructor; nearly every property
  // above reads or writes it. Only the three fields below are TConn's own.
  std::string saveFileTo_;  // the path the next successful GetURL writes the body to
  std::string error_;       // the text of the last recorded failure
  TVariant hrefNames_;      // link texts of the last successful GetHREFs
};
