// EHtmlLexer: failures of the HTML lexer and of the tag lexer. The internal
// guards of the HTML lexer carry the prefix "Internal Error : ".
#pragma once

#include "codecs/Exception.h"

#include <string>

class EHtmlLexer : public Exception {
public:
  using Exception::Exception;

  static EHtmlLexer Internal(const std::string& detail) {
    return EHtmlLexer("Internal Error : " + detail);
  }
};
