// TConn and the charset of text: the Charset mode, the forms the script's
// texts take on their way out, and the charset each response is read in.
#include "Conn.h"

#include "CharsetText.h"
#include "TextBoundary.h"
#include "codecs/Exception.h"
#include "codecs/TextHelpers.h"
#include "http/HttpClient.h"

namespace {

bool IsAuto(const std::string& value) { return AsciiUpperCase(Trim(value)) == "AUTO"; }

}  // namespace

std::string TConn::Charset() { return charset_; }

void TConn::SetCharset(const std::string& value)
{
  const TCharset* named = nullptr;
  if (!value.empty() && !IsAuto(value)) {
    named = FindCharset(value);
    if (!named || !IsCharsetUsable(*named)) throw Exception("Unknown charset: " + Utf8ToAnsi(value));
  }
  charset_ = value;
  namedCharset_ = named;
  // The body is read in the new mode from now on.
  if (decision_ == TDecision::Made) decision_ = TDecision::Pending;
}

std::string TConn::ResponseCharset()
{
  if (decision_ == TDecision::Pending) ResponseChoice();
  return responseCharset_;
}

std::string TConn::ToClientText(const std::string& text) const
{
  return TextsInUtf8() ? text : Utf8ToAnsi(text);
}

void TConn::SetClientUrl(const std::string& text)
{
  const bool utf8 = client_->Utf8Urls;
  client_->Utf8Urls = TextsInUtf8();
  try {
    client_->SetURL(ToClientText(text));
  } catch (...) {
    client_->Utf8Urls = utf8;  // a refused URL changes nothing
    throw;
  }
  url_ = scriptUrl_ = text;
  clientUrl_ = client_->URL();
}

std::string TConn::FromClientUrl(const std::string& bytes) const
{
  return client_->Utf8Urls ? bytes : AnsiToUtf8(bytes);
}

std::string TConn::ScriptText(const std::string& text) const
{
  return TextsInUtf8() ? text : AnsiToUtf8(Utf8ToAnsi(text));
}

void TConn::PrepareRequest()
{
  THttpClient& client = *client_;
  // A URL set in the other mode goes out in this one's form: the script's,
  // whose origin the credentials belong to, then where redirects have led.
  if (client.Utf8Urls != TextsInUtf8()) {
    const std::string current = url_;
    if (scriptUrl_.empty()) client.Utf8Urls = TextsInUtf8();
    else SetClientUrl(scriptUrl_);
    if (current != scriptUrl_) {
      client.ApplyURL(ToClientText(current));
      url_ = current;
      clientUrl_ = client.URL();
    }
  }
  client.PostData = EncodedPostData();
  // Credentials go out as UTF-8 before Base64 in the charset mode (RFC 7617).
  client.AuthentHeader = ToClientText(authorization_);
  client.ProxyPassword = ToClientText(proxyPassword_);
}

// PostData in the charset named by ContentType's charset parameter, else by
// Charset, else (auto) UTF-8. Only POST, PUT and PATCH send it: for another
// method a text the charset cannot hold is no failure.
std::string TConn::EncodedPostData() const
{
  if (!TextsInUtf8() || postData_.empty()) return ToClientText(postData_);
  if (!THttpClient::SendsBody(client_->RequestMethod)) return postData_;
  const std::string label = ContentTypeCharset(client_->ContentType());
  const TCharset* charset = namedCharset_ ? namedCharset_ : &Utf8Charset();
  if (!label.empty()) {
    charset = FindCharset(label);
    if (!charset || !IsCharsetUsable(*charset)) throw Exception("Unknown charset: " + label);
  }
  std::string encoded;
  if (!EncodeInCharset(postData_, *charset, encoded))
    throw Exception(std::string("PostData holds characters that ") + charset->Name + " cannot encode");
  return encoded;
}

std::string_view TConn::BodyBytes() const
{
  return std::string_view(client_->Body.Memory(), static_cast<size_t>(client_->Body.Size()));
}

const TCharsetChoice& TConn::ResponseChoice()
{
  if (decision_ == TDecision::Made) return responseChoice_;
  responseChoice_ = ChooseCharset();
  // Before the first response, and after a failed one, no charset is told;
  // the links of whatever the body holds are read all the same.
  if (decision_ == TDecision::Pending) {
    responseCharset_ = responseChoice_.Charset ? responseChoice_.Charset->Name : AnsiCharsetName();
    decision_ = TDecision::Made;
  }
  return responseChoice_;
}

TCharsetChoice TConn::ChooseCharset() const
{
  if (!TextsInUtf8()) return TCharsetChoice();
  if (namedCharset_) return ChooseCharsetNamed(*namedCharset_, BodyBytes());
  return ChooseCharsetAuto(client_->Headers.GetFieldValue("Content-Type"), BodyBytes(), IsCharsetUsable);
}
