#include "Conn.h"

#include <windows.h>

#include "ComError.h"
#include "codecs/UrlCodec.h"

namespace {

// Members whose HTTP client has not been built into this library yet say so
// plainly instead of pretending to work.
[[noreturn]] void NotImplemented(const char* member)
{
  throw EOleSysError(std::string("Conn.") + member + " is not implemented", E_NOTIMPL);
}

}  // namespace

TConn::TConn() = default;

TConn::~TConn() = default;

std::string TConn::GetURL() { NotImplemented("GetURL"); }

std::string TConn::Protocol() { NotImplemented("Protocol"); }
void TConn::SetProtocol(const std::string&) { NotImplemented("Protocol"); }
std::string TConn::URL() { NotImplemented("URL"); }
void TConn::SetURL(const std::string&) { NotImplemented("URL"); }
std::string TConn::FileName() { NotImplemented("FileName"); }
bool TConn::FollowRedirects() { NotImplemented("FollowRedirects"); }
void TConn::SetFollowRedirects(bool) { NotImplemented("FollowRedirects"); }
int TConn::Port() { NotImplemented("Port"); }
void TConn::SetPort(int) { NotImplemented("Port"); }
std::string TConn::Proxy() { NotImplemented("Proxy"); }
void TConn::SetProxy(const std::string&) { NotImplemented("Proxy"); }
int TConn::TimeOut() { NotImplemented("TimeOut"); }
void TConn::SetTimeOut(int) { NotImplemented("TimeOut"); }
std::string TConn::PostData() { NotImplemented("PostData"); }
void TConn::SetPostData(const std::string&) { NotImplemented("PostData"); }
std::string TConn::Accept() { NotImplemented("Accept"); }
void TConn::SetAccept(const std::string&) { NotImplemented("Accept"); }
std::string TConn::UserAgent() { NotImplemented("UserAgent"); }
void TConn::SetUserAgent(const std::string&) { NotImplemented("UserAgent"); }
std::string TConn::RequestMethod() { NotImplemented("RequestMethod"); }
void TConn::SetRequestMethod(const std::string&) { NotImplemented("RequestMethod"); }
std::string TConn::ContentType() { NotImplemented("ContentType"); }
void TConn::SetContentType(const std::string&) { NotImplemented("ContentType"); }
std::string TConn::Authorization() { NotImplemented("Authorization"); }
void TConn::SetAuthorization(const std::string&) { NotImplemented("Authorization"); }
std::string TConn::ProxyPassword() { NotImplemented("ProxyPassword"); }
void TConn::SetProxyPassword(const std::string&) { NotImplemented("ProxyPassword"); }
std::string TConn::HTTPLog() { NotImplemented("HTTPLog"); }
void TConn::SetHTTPLog(const std::string&) { NotImplemented("HTTPLog"); }
std::string TConn::ExtraHeaders() { NotImplemented("ExtraHeaders"); }
void TConn::AddExtraHeader(const std::string&) { NotImplemented("AddExtraHeader"); }
void TConn::ClearExtraHeaders() { NotImplemented("ClearExtraHeaders"); }
std::string TConn::SaveFileTo() { NotImplemented("SaveFileTo"); }
void TConn::SetSaveFileTo(const std::string&) { NotImplemented("SaveFileTo"); }

std::string TConn::Headers() { NotImplemented("Headers"); }
std::string TConn::GetHeader(const std::string&) { NotImplemented("GetHeader"); }
std::string TConn::Response() { NotImplemented("Response"); }
TVariant TConn::BinaryData() { NotImplemented("BinaryData"); }
std::string TConn::Error() { NotImplemented("Error"); }

TVariant TConn::GetHREFs() { NotImplemented("GetHREFs"); }
TVariant TConn::GetHREFNames() { NotImplemented("GetHREFNames"); }

std::string TConn::Version() { return "3.50"; }

std::string TConn::URLEncode(const std::string& value) { return ::URLEncode(value); }

std::string TConn::URLDecode(const std::string& value) { return ::URLDecode(value); }
