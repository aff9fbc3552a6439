#include "codecs/Charsets.h"

#include "codecs/TextHelpers.h"

#include "codecs/Utf8.h"

#include <cstring>

namespace {

// The charsets, by the WHATWG Encoding Standard, with the Windows code page
// each one is converted with.
enum TCharsetIndex {
  kUtf8, kIbm866, kIso2, kIso3, kIso4, kIso5, kIso6, kIso7, kIso8, kIso8I, kIso10, kIso13, kIso14, kIso15,
  kIso16, kKoi8R, kKoi8U, kMacintosh, kWin874, kWin1250, kWin1251, kWin1252, kWin1253, kWin1254, kWin1255,
  kWin1256, kWin1257, kWin1258, kMacCyrillic, kGbk, kGb18030, kBig5, kEucJp, kIso2022Jp, kShiftJis, kEucKr,
  kUtf16BE, kUtf16LE, kXUserDefined, kReplacement
};

const TCharset Charsets[] = {
    {"utf-8", TCharsetKind::Utf8, 65001},
    {"ibm866", TCharsetKind::CodePage, 866},
    {"iso-8859-2", TCharsetKind::CodePage, 28592},
    {"iso-8859-3", TCharsetKind::CodePage, 28593},
    {"iso-8859-4", TCharsetKind::CodePage, 28594},
    {"iso-8859-5", TCharsetKind::CodePage, 28595},
    {"iso-8859-6", TCharsetKind::CodePage, 28596},
    {"iso-8859-7", TCharsetKind::CodePage, 28597},
    {"iso-8859-8", TCharsetKind::CodePage, 28598},
    {"iso-8859-8-i", TCharsetKind::CodePage, 38598},
    {"iso-8859-10", TCharsetKind::CodePage, 28600},
    {"iso-8859-13", TCharsetKind::CodePage, 28603},
    {"iso-8859-14", TCharsetKind::CodePage, 28604},
    {"iso-8859-15", TCharsetKind::CodePage, 28605},
    {"iso-8859-16", TCharsetKind::CodePage, 28606},
    {"koi8-r", TCharsetKind::CodePage, 20866},
    {"koi8-u", TCharsetKind::CodePage, 21866},
    {"macintosh", TCharsetKind::CodePage, 10000},
    {"windows-874", TCharsetKind::CodePage, 874},
    {"windows-1250", TCharsetKind::CodePage, 1250},
    {"windows-1251", TCharsetKind::CodePage, 1251},
    {"windows-1252", TCharsetKind::CodePage, 1252},
    {"windows-1253", TCharsetKind::CodePage, 1253},
    {"windows-1254", TCharsetKind::CodePage, 1254},
    {"windows-1255", TCharsetKind::CodePage, 1255},
    {"windows-1256", TCharsetKind::CodePage, 1256},
    {"windows-1257", TCharsetKind::CodePage, 1257},
    {"windows-1258", TCharsetKind::CodePage, 1258},
    {"x-mac-cyrillic", TCharsetKind::CodePage, 10007},
    {"gbk", TCharsetKind::CodePage, 936},
    {"gb18030", TCharsetKind::CodePage, 54936},
    {"big5", TCharsetKind::CodePage, 950},
    {"euc-jp", TCharsetKind::CodePage, 20932},
    {"iso-2022-jp", TCharsetKind::CodePage, 50220},
    {"shift_jis", TCharsetKind::CodePage, 932},
    {"euc-kr", TCharsetKind::CodePage, 949},
    {"utf-16be", TCharsetKind::Utf16BE, 1201},
    {"utf-16le", TCharsetKind::Utf16LE, 1200},
    {"x-user-defined", TCharsetKind::XUserDefined, 0},
};

struct TLabel {
  const char* Label;
  int Index;
};

// Every label of the standard, lower case.
const TLabel Labels[] = {
    {"unicode-1-1-utf-8", kUtf8}, {"unicode11utf8", kUtf8}, {"unicode20utf8", kUtf8}, {"utf-8", kUtf8},
    {"utf8", kUtf8}, {"x-unicode20utf8", kUtf8},
    {"866", kIbm866}, {"cp866", kIbm866}, {"csibm866", kIbm866}, {"ibm866", kIbm866},
    {"csisolatin2", kIso2}, {"iso-8859-2", kIso2}, {"iso-ir-101", kIso2}, {"iso8859-2", kIso2},
    {"iso88592", kIso2}, {"iso_8859-2", kIso2}, {"iso_8859-2:1987", kIso2}, {"l2", kIso2}, {"latin2", kIso2},
    {"csisolatin3", kIso3}, {"iso-8859-3", kIso3}, {"iso-ir-109", kIso3}, {"iso8859-3", kIso3},
    {"iso88593", kIso3}, {"iso_8859-3", kIso3}, {"iso_8859-3:1988", kIso3}, {"l3", kIso3}, {"latin3", kIso3},
    {"csisolatin4", kIso4}, {"iso-8859-4", kIso4}, {"iso-ir-110", kIso4}, {"iso8859-4", kIso4},
    {"iso88594", kIso4}, {"iso_8859-4", kIso4}, {"iso_8859-4:1988", kIso4}, {"l4", kIso4}, {"latin4", kIso4},
    {"csisolatincyrillic", kIso5}, {"cyrillic", kIso5}, {"iso-8859-5", kIso5}, {"iso-ir-144", kIso5},
    {"iso8859-5", kIso5}, {"iso88595", kIso5}, {"iso_8859-5", kIso5}, {"iso_8859-5:1988", kIso5},
    {"arabic", kIso6}, {"asmo-708", kIso6}, {"csiso88596e", kIso6}, {"csiso88596i", kIso6},
    {"csisolatinarabic", kIso6}, {"ecma-114", kIso6}, {"iso-8859-6", kIso6}, {"iso-8859-6-e", kIso6},
    {"iso-8859-6-i", kIso6}, {"iso-ir-127", kIso6}, {"iso8859-6", kIso6}, {"iso88596", kIso6},
    {"iso_8859-6", kIso6}, {"iso_8859-6:1987", kIso6},
    {"csisolatingreek", kIso7}, {"ecma-118", kIso7}, {"elot_928", kIso7}, {"greek", kIso7}, {"greek8", kIso7},
    {"iso-8859-7", kIso7}, {"iso-ir-126", kIso7}, {"iso8859-7", kIso7}, {"iso88597", kIso7},
    {"iso_8859-7", kIso7}, {"iso_8859-7:1987", kIso7}, {"sun_eu_greek", kIso7},
    {"csiso88598e", kIso8}, {"csisolatinhebrew", kIso8}, {"hebrew", kIso8}, {"iso-8859-8", kIso8},
    {"iso-8859-8-e", kIso8}, {"iso-ir-138", kIso8}, {"iso8859-8", kIso8}, {"iso88598", kIso8},
    {"iso_8859-8", kIso8}, {"iso_8859-8:1988", kIso8}, {"visual", kIso8},
    {"csiso88598i", kIso8I}, {"iso-8859-8-i", kIso8I}, {"logical", kIso8I},
    {"csisolatin6", kIso10}, {"iso-8859-10", kIso10}, {"iso-ir-157", kIso10}, {"iso8859-10", kIso10},
    {"iso885910", kIso10}, {"l6", kIso10}, {"latin6", kIso10},
    {"iso-8859-13", kIso13}, {"iso8859-13", kIso13}, {"iso885913", kIso13},
    {"iso-8859-14", kIso14}, {"iso8859-14", kIso14}, {"iso885914", kIso14},
    {"csisolatin9", kIso15}, {"iso-8859-15", kIso15}, {"iso8859-15", kIso15}, {"iso885915", kIso15},
    {"iso_8859-15", kIso15}, {"l9", kIso15},
    {"iso-8859-16", kIso16},
    {"cskoi8r", kKoi8R}, {"koi", kKoi8R}, {"koi8", kKoi8R}, {"koi8-r", kKoi8R}, {"koi8_r", kKoi8R},
    {"koi8-ru", kKoi8U}, {"koi8-u", kKoi8U},
    {"csmacintosh", kMacintosh}, {"mac", kMacintosh}, {"macintosh", kMacintosh}, {"x-mac-roman", kMacintosh},
    {"dos-874", kWin874}, {"iso-8859-11", kWin874}, {"iso8859-11", kWin874}, {"iso885911", kWin874},
    {"tis-620", kWin874}, {"windows-874", kWin874},
    {"cp1250", kWin1250}, {"windows-1250", kWin1250}, {"x-cp1250", kWin1250},
    {"cp1251", kWin1251}, {"windows-1251", kWin1251}, {"x-cp1251", kWin1251},
    {"ansi_x3.4-1968", kWin1252}, {"ascii", kWin1252}, {"cp1252", kWin1252}, {"cp819", kWin1252},
    {"csisolatin1", kWin1252}, {"ibm819", kWin1252}, {"iso-8859-1", kWin1252}, {"iso-ir-100", kWin1252},
    {"iso8859-1", kWin1252}, {"iso88591", kWin1252}, {"iso_8859-1", kWin1252}, {"iso_8859-1:1987", kWin1252},
    {"l1", kWin1252}, {"latin1", kWin1252}, {"us-ascii", kWin1252}, {"windows-1252", kWin1252},
    {"x-cp1252", kWin1252},
    {"cp1253", kWin1253}, {"windows-1253", kWin1253}, {"x-cp1253", kWin1253},
    {"cp1254", kWin1254}, {"csisolatin5", kWin1254}, {"iso-8859-9", kWin1254}, {"iso-ir-148", kWin1254},
    {"iso8859-9", kWin1254}, {"iso88599", kWin1254}, {"iso_8859-9", kWin1254}, {"iso_8859-9:1989", kWin1254},
    {"l5", kWin1254}, {"latin5", kWin1254}, {"windows-1254", kWin1254}, {"x-cp1254", kWin1254},
    {"cp1255", kWin1255}, {"windows-1255", kWin1255}, {"x-cp1255", kWin1255},
    {"cp1256", kWin1256}, {"windows-1256", kWin1256}, {"x-cp1256", kWin1256},
    {"cp1257", kWin1257}, {"windows-1257", kWin1257}, {"x-cp1257", kWin1257},
    {"cp1258", kWin1258}, {"windows-1258", kWin1258}, {"x-cp1258", kWin1258},
    {"x-mac-cyrillic", kMacCyrillic}, {"x-mac-ukrainian", kMacCyrillic},
    {"chinese", kGbk}, {"csgb2312", kGbk}, {"csiso58gb231280", kGbk}, {"gb2312", kGbk}, {"gb_2312", kGbk},
    {"gb_2312-80", kGbk}, {"gbk", kGbk}, {"iso-ir-58", kGbk}, {"x-gbk", kGbk},
    {"gb18030", kGb18030},
    {"big5", kBig5}, {"big5-hkscs", kBig5}, {"cn-big5", kBig5}, {"csbig5", kBig5}, {"x-x-big5", kBig5},
    {"cseucpkdfmtjapanese", kEucJp}, {"euc-jp", kEucJp}, {"x-euc-jp", kEucJp},
    {"csiso2022jp", kIso2022Jp}, {"iso-2022-jp", kIso2022Jp},
    {"csshiftjis", kShiftJis}, {"ms932", kShiftJis}, {"ms_kanji", kShiftJis}, {"shift-jis", kShiftJis},
    {"shift_jis", kShiftJis}, {"sjis", kShiftJis}, {"windows-31j", kShiftJis}, {"x-sjis", kShiftJis},
    {"cseuckr", kEucKr}, {"csksc56011987", kEucKr}, {"euc-kr", kEucKr}, {"iso-ir-149", kEucKr},
    {"korean", kEucKr}, {"ks_c_5601-1987", kEucKr}, {"ks_c_5601-1989", kEucKr}, {"ksc5601", kEucKr},
    {"ksc_5601", kEucKr}, {"windows-949", kEucKr},
    // The replacement encoding turns a whole body into one U+FFFD: no text
    // can be read in it, so its labels name nothing usable here.
    {"csiso2022kr", kReplacement}, {"hz-gb-2312", kReplacement}, {"iso-2022-cn", kReplacement},
    {"iso-2022-cn-ext", kReplacement}, {"iso-2022-kr", kReplacement}, {"replacement", kReplacement},
    {"unicodefffe", kUtf16BE}, {"utf-16be", kUtf16BE},
    {"csunicode", kUtf16LE}, {"iso-10646-ucs-2", kUtf16LE}, {"ucs-2", kUtf16LE}, {"unicode", kUtf16LE},
    {"unicodefeff", kUtf16LE}, {"utf-16", kUtf16LE}, {"utf-16le", kUtf16LE},
    {"x-user-defined", kXUserDefined},
};

bool IsAsciiBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r'; }

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && IsAsciiBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsAsciiBlank(text.back())) text.remove_suffix(1);
  return text;
}

// text at position starts with the lower-case word, ASCII case ignored.
bool StartsWithWord(std::string_view text, size_t position, const char* word) {
  return position <= text.size() && StartsWithNoCase(text.substr(position), word);
}

}  // namespace

const TCharset* FindCharset(std::string_view label) {
  const std::string key = AsciiLowerCase(TrimBlanks(label));
  for (const TLabel& entry : Labels) {
    if (key == entry.Label) return entry.Index == kReplacement ? nullptr : &Charsets[entry.Index];
  }
  return nullptr;
}

const TCharset* CharsetOfCodePage(unsigned codePage) {
  for (const TCharset& charset : Charsets)
    if (charset.CodePage == codePage && charset.Kind != TCharsetKind::XUserDefined) return &charset;
  return nullptr;
}

const TCharset& Utf8Charset() { return Charsets[kUtf8]; }

const TCharset* SniffByteOrderMark(std::string_view body, size_t& markLength) {
  markLength = 0;
  if (body.size() >= 3 && body.compare(0, 3, "\xEF\xBB\xBF") == 0) {
    markLength = 3;
    return &Charsets[kUtf8];
  }
  if (body.size() >= 2 && body.compare(0, 2, "\xFE\xFF") == 0) {
    markLength = 2;
    return &Charsets[kUtf16BE];
  }
  if (body.size() >= 2 && body.compare(0, 2, "\xFF\xFE") == 0) {
    markLength = 2;
    return &Charsets[kUtf16LE];
  }
  return nullptr;
}

std::string MediaTypeEssence(std::string_view contentType) {
  return AsciiLowerCase(TrimBlanks(contentType.substr(0, contentType.find(';'))));
}

std::string ContentTypeCharset(std::string_view contentType) {
  // Parameters follow the media type, each after a ";": name=value, the
  // value a token or a quoted string (with backslash escapes). A ";" inside
  // quotes belongs to the value. Bounded by the text: every pass moves on.
  size_t i = contentType.find(';');
  while (i != std::string_view::npos && i < contentType.size()) {
    ++i;  // past the ";"
    while (i < contentType.size() && IsAsciiBlank(contentType[i])) ++i;
    const size_t nameStart = i;
    while (i < contentType.size() && contentType[i] != '=' && contentType[i] != ';') ++i;
    const std::string name = AsciiLowerCase(TrimBlanks(contentType.substr(nameStart, i - nameStart)));
    if (i >= contentType.size() || contentType[i] == ';') continue;
    ++i;  // past the "="
    std::string value;
    if (i < contentType.size() && contentType[i] == '"') {
      for (++i; i < contentType.size() && contentType[i] != '"'; ++i) {
        if (contentType[i] == '\\' && i + 1 < contentType.size()) ++i;
        value += contentType[i];
      }
      i = contentType.find(';', i);
    } else {
      const size_t end = contentType.find(';', i);
      value = std::string(TrimBlanks(contentType.substr(i, end == std::string_view::npos ? end : end - i)));
      i = end;
    }
    if (name == "charset") return std::string(TrimBlanks(value));
  }
  return std::string();
}

bool IsJsonMediaType(std::string_view contentType) {
  const std::string essence = MediaTypeEssence(contentType);
  const size_t slash = essence.find('/');
  if (slash == std::string::npos) return false;
  if (essence == "application/json") return true;
  return essence.size() > slash + 5 && essence.compare(essence.size() - 5, 5, "+json") == 0;
}

std::string CharsetFromMetaContent(std::string_view content) {
  size_t position = 0;
  // Bounded by the content: every pass moves past one "charset".
  for (;;) {
    size_t found = std::string_view::npos;
    for (size_t i = position; i + 7 <= content.size(); ++i) {
      if (StartsWithWord(content, i, "charset")) {
        found = i;
        break;
      }
    }
    if (found == std::string_view::npos) return std::string();
    size_t i = found + 7;
    while (i < content.size() && IsAsciiBlank(content[i])) ++i;
    if (i >= content.size() || content[i] != '=') {
      position = i;  // look for another "charset" from here
      continue;
    }
    ++i;
    while (i < content.size() && IsAsciiBlank(content[i])) ++i;
    if (i >= content.size()) return std::string();
    const char quote = content[i];
    if (quote == '"' || quote == '\'') {
      const size_t end = content.find(quote, i + 1);
      return end == std::string_view::npos ? std::string() : std::string(content.substr(i + 1, end - i - 1));
    }
    size_t end = i;
    while (end < content.size() && !IsAsciiBlank(content[end]) && content[end] != ';') ++end;
    return std::string(content.substr(i, end - i));
  }
}

namespace {

// The prescan of an HTML page's first bytes for a charset declaration, as
// browsers make it: a cursor over the bytes and one attribute at a time.
class TMetaPrescan {
public:
  explicit TMetaPrescan(std::string_view page) : s_(page.substr(0, 1024)) {}

  std::string Run() {
    // Bounded by the 1024 bytes: every pass moves the cursor on.
    for (; i_ < s_.size(); ++i_) {
      if (Starts("<!--")) {
        SkipComment();
      } else if (StartsWithWord(s_, i_, "<meta") && i_ + 5 < s_.size() && IsSpaceOrSlash(s_[i_ + 5])) {
        i_ += 6;
        std::string label = ReadMeta();
        if (!label.empty()) return label;
      } else if (s_[i_] == '<' && i_ + 1 < s_.size() &&
                 (IsAsciiLetter(s_[i_ + 1]) || (s_[i_ + 1] == '/' && i_ + 2 < s_.size() && IsAsciiLetter(s_[i_ + 2])))) {
        SkipTag();
      } else if (Starts("<!") || Starts("</") || Starts("<?")) {
        const size_t end = s_.find('>', i_ + 2);
        if (end == std::string_view::npos) break;
        i_ = end;
      }
    }
    return std::string();
  }

private:
  static bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
  static bool IsSpaceOrSlash(char c) { return IsAsciiBlank(c) || c == '/'; }
  bool Starts(const char* text) const { return s_.compare(i_, std::strlen(text), text) == 0; }

  void SkipComment() {
    // To the end of the first "-->" after the "<!" ("<!-->" is a comment too).
    const size_t end = s_.find("-->", i_ + 2);
    i_ = end == std::string_view::npos ? s_.size() : end + 2;
  }

  void SkipTag() {
    while (i_ < s_.size() && !IsAsciiBlank(s_[i_]) && s_[i_] != '>') ++i_;
    std::string name, value;
    while (ReadAttribute(name, value)) {
    }
  }

  // The attributes of one <meta> tag; the label it declares, or empty.
  std::string ReadMeta() {
    std::string name, value, charset, seen = " ";
    bool gotPragma = false;
    enum { Unknown, No, Yes } needPragma = Unknown;
    // Bounded by the 1024 bytes: every attribute read moves the cursor on.
    while (ReadAttribute(name, value)) {
      if (seen.find(" " + name + " ") != std::string::npos) continue;
      seen += name + " ";
      if (name == "http-equiv") {
        gotPragma = gotPragma || AsciiLowerCase(value) == "content-type";
      } else if (name == "content" && charset.empty()) {
        charset = CharsetFromMetaContent(value);
        if (!charset.empty()) needPragma = Yes;
      } else if (name == "charset") {
        charset = value;
        needPragma = No;
      }
    }
    if (needPragma == Unknown || (needPragma == Yes && !gotPragma)) return std::string();
    return std::string(TrimBlanks(charset));
  }

  // One attribute at the cursor, name lower-cased; false at the tag's end.
  bool ReadAttribute(std::string& name, std::string& value) {
    name.clear();
    value.clear();
    while (i_ < s_.size() && IsSpaceOrSlash(s_[i_])) ++i_;
    if (i_ >= s_.size() || s_[i_] == '>') return false;
    for (;; ++i_) {
      if (i_ >= s_.size()) return false;
      const char c = s_[i_];
      if (c == '=' && !name.empty()) {
        ++i_;
        return ReadValue(value);
      }
      if (IsAsciiBlank(c)) break;
      if (c == '/' || c == '>') return true;
      name += AsciiLowerChar(c);
    }
    while (i_ < s_.size() && IsAsciiBlank(s_[i_])) ++i_;
    if (i_ >= s_.size()) return false;
    if (s_[i_] != '=') return true;
    ++i_;
    return ReadValue(value);
  }

  bool ReadValue(std::string& value) {
    while (i_ < s_.size() && IsAsciiBlank(s_[i_])) ++i_;
    if (i_ >= s_.size()) return false;
    const char quote = s_[i_];
    if (quote == '"' || quote == '\'') {
      const size_t end = s_.find(quote, i_ + 1);
      if (end == std::string_view::npos) return false;
      value = AsciiLowerCase(s_.substr(i_ + 1, end - i_ - 1));
      i_ = end + 1;
      return true;
    }
    if (quote == '>') return true;
    while (i_ < s_.size() && !IsAsciiBlank(s_[i_]) && s_[i_] != '>') value += AsciiLowerChar(s_[i_++]);
    return i_ < s_.size();
  }

  std::string_view s_;
  size_t i_ = 0;
};

// A declared label, when it names a charset that can be used.
const TCharset* Declared(const std::string& label, const TCharsetUsable& usable) {
  const TCharset* charset = label.empty() ? nullptr : FindCharset(label);
  return charset && usable(*charset) ? charset : nullptr;
}

}  // namespace

std::string PrescanMetaCharset(std::string_view page) { return TMetaPrescan(page).Run(); }

TCharsetChoice ChooseCharsetAuto(std::string_view contentType, std::string_view body, const TCharsetUsable& usable) {
  TCharsetChoice choice;
  if ((choice.Charset = SniffByteOrderMark(body, choice.MarkLength))) return choice;
  if ((choice.Charset = Declared(ContentTypeCharset(contentType), usable))) return choice;
  const std::string essence = MediaTypeEssence(contentType);
  if (essence.empty() || essence == "text/html" || essence == "application/xhtml+xml") {
    if (const TCharset* meta = Declared(PrescanMetaCharset(body), usable)) {
      // The page was read as ASCII to find the declaration: a UTF-16 one
      // cannot be true, and x-user-defined reads as windows-1252 there.
      if (meta->Kind == TCharsetKind::Utf16LE || meta->Kind == TCharsetKind::Utf16BE) meta = &Charsets[kUtf8];
      if (meta->Kind == TCharsetKind::XUserDefined) meta = &Charsets[kWin1252];
      choice.Charset = meta;
      return choice;
    }
  }
  if (IsJsonMediaType(contentType) || IsValidUtf8(body)) choice.Charset = &Charsets[kUtf8];
  return choice;
}

TCharsetChoice ChooseCharsetNamed(const TCharset& named, std::string_view body) {
  TCharsetChoice choice;
  choice.Charset = &named;
  size_t markLength = 0;
  if (SniffByteOrderMark(body, markLength) == &named) choice.MarkLength = markLength;
  return choice;
}
