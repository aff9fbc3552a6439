// The token classes of the HTML lexer. Every token keeps its source text in
// Text, one entry per source line it touches (line ends are the boundaries
// between entries), and derives its own fields from that text in Parse.
// Parse runs whenever Text reports a change while TextUpdates is 0, and once
// when TextUpdates returns to 0.
#pragma once

#include "codecs/StringList.h"
#include "html/HtmlTagLexer.h"
#include "html/Persistent.h"

#include <memory>
#include <string>
#include <string_view>

class THtmlTagToken;
class TAttributeBuilder;

// The token classes, for a lexer that keeps finished tokens to reuse.
enum class TTokenKind { Tag, Text, SpecialSymbol, Comment, Sgml, Script };

class TToken : public TPersistent {
public:
  TToken();

  virtual TTokenKind Kind() const = 0;
  // Back to the state of a new token, keeping the memory already taken, so
  // that a lexer can hand the object out again instead of allocating one.
  // Text (and a tag's Attributes) keep their lines, with their memory, until
  // the lexer replaces them whole with the next token's. Changes no field
  // through Parse.
  virtual void Recycle();

  int Line = 0;  // 0-based line where the token begins
  int Col = 0;   // 1-based column where the token begins

  TStringList& Text() { return text_; }
  const TStringList& Text() const { return text_; }
  // The text lines; a tag token first rebuilds them when they are not valid.
  virtual const TStringList& GetText() { return text_; }

  int TextUpdates() const { return textUpdates_; }
  void BeginTextUpdate() { ++textUpdates_; }
  // Lowering the count to 0 runs Parse once.
  void EndTextUpdate();

  // This token as a tag, or null: cheaper than a dynamic cast for the
  // lexer and the link walk, which ask it of every token.
  virtual const THtmlTagToken* AsTag() const { return nullptr; }
  // Whether this is a text token (a character reference is one too).
  virtual bool IsText() const { return false; }

  // From another token: Line, Col and the lines of Text (which runs Parse).
  void Assign(const TPersistent* source) override;
  virtual void Parse() = 0;

  const char* ClassName() const override { return "TToken"; }

private:
  void TextChanged();

  TStringList text_;
  int textUpdates_ = 0;
};

// A tag: its name and attributes come from the tag lexer's parts. Attributes
// is a name=value list: names compare without regard to case, a later value
// replaces an earlier one in place (the line taking the newer name's case),
// and an attribute without a value, or with an empty one, is never listed.
class THtmlTagToken : public TToken {
public:
  THtmlTagToken();
  ~THtmlTagToken() override;

  // As written, case and all: a closing tag's name begins with "/".
  const std::string& Name() const { return name_; }
  const TStringList& Attributes() const { return ReadAttributes(); }
  bool TextValid() const { return textValid_; }
  THtmlTagLexer& TagLexer() {
    ReadAttributes();
    return tagLexer_;
  }

  // The value stored under name; empty when absent. Values are not decoded.
  std::string GetAttribute(const std::string& name) const { return ReadAttributes().Values(name); }
  // The same as a view of the attribute's line, valid until the token changes.
  std::string_view AttributeText(const std::string& name) const;
  int AttributeCount() const { return ReadAttributes().Count(); }
  std::string AttributeName(int index) const { return ReadAttributes().Names(index); }
  std::string AttributeValue(int index) const { return ReadAttributes().ValueFromIndex(index); }
  // Name equals text, ignoring ASCII case.
  bool IsTag(std::string_view text) const;

  const THtmlTagToken* AsTag() const override { return this; }
  static constexpr TTokenKind ClassKind = TTokenKind::Tag;
  TTokenKind Kind() const override { return ClassKind; }
  void Recycle() override;
  const TStringList& GetText() override;
  // Text becomes one line written from Name and Attributes, which Parse reads back.
  void RebuildText();
  void Parse() override;

  TPersistent* CreateInstance() const override { return new THtmlTagToken; }
  const char* ClassName() const override { return "THtmlTagToken"; }

private:
  // Parse reads the name at once and the rest of the tag when it is first
  // asked for: a page's tags are nearly all asked only their name.
  const TStringList& ReadAttributes() const {
    if (!attributesRead_) ParseAttributes();
    return attributes_;
  }
  void ParseAttributes() const;

  std::string name_;
  mutable TStringList attributes_;
  mutable bool attributesRead_ = true;
  bool textValid_ = false;
  mutable THtmlTagLexer tagLexer_;
  // Parse's working list, kept with its memory from tag to tag.
  std::unique_ptr<TAttributeBuilder> builder_;
};

class TTextToken : public TToken {
public:
  bool IsText() const override { return true; }
  static constexpr TTokenKind ClassKind = TTokenKind::Text;
  TTokenKind Kind() const override { return ClassKind; }
  void Parse() override {}
  TPersistent* CreateInstance() const override { return new TTextToken; }
  const char* ClassName() const override { return "TTextToken"; }
};

// A character reference, as decoded when it was read.
class TSpecialSymbolToken : public TTextToken {
public:
  bool IsNumeric = false;
  std::string EntityName;  // empty for a numeric reference
  unsigned char Character = 0;

  static constexpr TTokenKind ClassKind = TTokenKind::SpecialSymbol;
  TTokenKind Kind() const override { return ClassKind; }
  void Recycle() override;
  void Assign(const TPersistent* source) override;
  TPersistent* CreateInstance() const override { return new TSpecialSymbolToken; }
  const char* ClassName() const override { return "TSpecialSymbolToken"; }
};

class TCommentToken : public TToken {
public:
  static constexpr TTokenKind ClassKind = TTokenKind::Comment;
  TTokenKind Kind() const override { return ClassKind; }
  void Parse() override {}
  TPersistent* CreateInstance() const override { return new TCommentToken; }
  const char* ClassName() const override { return "TCommentToken"; }
};

// A markup declaration: "<!" not followed by "--".
class TSgmlToken : public TToken {
public:
  static constexpr TTokenKind ClassKind = TTokenKind::Sgml;
  TTokenKind Kind() const override { return ClassKind; }
  void Parse() override {}
  TPersistent* CreateInstance() const override { return new TSgmlToken; }
  const char* ClassName() const override { return "TSgmlToken"; }
};

// Text inside a script element.
class TScriptToken : public TToken {
public:
  std::string Language;  // the LANGUAGE attribute of the script element

  static constexpr TTokenKind ClassKind = TTokenKind::Script;
  TTokenKind Kind() const override { return ClassKind; }
  void Recycle() override;
  void Parse() override {}
  void Assign(const TPersistent* source) override;
  TPersistent* CreateInstance() const override { return new TScriptToken; }
  const char* ClassName() const override { return "TScriptToken"; }
};
