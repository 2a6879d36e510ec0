#include "FormReader.h"

#include <cwctype>

namespace vcl {
namespace {

class Reader {
 public:
  explicit Reader(const String& text) : s_(text) {}

  TComponentDef Document() {
    TComponentDef root = Component();
    SkipSpace();
    if (pos_ != s_.size()) Fail(L"text after the end of the form");
    return root;
  }

 private:
  [[noreturn]] void Fail(const String& what) const { FormDefinitionError(line_, what); }

  void SkipSpace() {
    while (pos_ < s_.size()) {
      wchar_t c = s_[pos_];
      if (c == L'\n') {
        ++line_;
        ++pos_;
      } else if (c == L' ' || c == L'\t' || c == L'\r' || c == 0xFEFF) {
        ++pos_;
      } else if (c == L'#') {
        while (pos_ < s_.size() && s_[pos_] != L'\n') ++pos_;
      } else {
        break;
      }
    }
  }

  bool Peek(wchar_t c) {
    SkipSpace();
    return pos_ < s_.size() && s_[pos_] == c;
  }

  void Expect(wchar_t c) {
    if (!Peek(c)) Fail(String(L"expected '") + c + L"'");
    ++pos_;
  }

  static bool IsIdentChar(wchar_t c, bool first) {
    return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || c == L'_' ||
           (!first && ((c >= L'0' && c <= L'9') || c == L'.'));
  }

  bool PeekIdent() {
    SkipSpace();
    return pos_ < s_.size() && IsIdentChar(s_[pos_], true);
  }

  String Ident() {
    if (!PeekIdent()) Fail(L"expected a name");
    size_t start = pos_;
    while (pos_ < s_.size() && IsIdentChar(s_[pos_], false)) ++pos_;
    return s_.substr(start, pos_ - start);
  }

  String Quoted() {
    Expect(L'"');
    String out;
    while (true) {
      if (pos_ >= s_.size() || s_[pos_] == L'\n') Fail(L"unterminated string");
      wchar_t c = s_[pos_++];
      if (c == L'"') return out;
      if (c != L'\\') {
        out += c;
        continue;
      }
      if (pos_ >= s_.size()) Fail(L"unterminated string");
      wchar_t e = s_[pos_++];
      if (e == L'n')
        out += L'\n';
      else if (e == L'"' || e == L'\\')
        out += e;
      else
        Fail(String(L"unknown escape \\") + e);
    }
  }

  long long Integer() {
    SkipSpace();
    bool negative = pos_ < s_.size() && s_[pos_] == L'-';
    if (negative) ++pos_;
    if (pos_ >= s_.size() || !std::iswdigit(s_[pos_])) Fail(L"expected a number");
    long long v = 0;
    while (pos_ < s_.size() && s_[pos_] >= L'0' && s_[pos_] <= L'9') {
      v = v * 10 + (s_[pos_++] - L'0');
      if (v > 1'000'000'000) Fail(L"number out of range");
    }
    return negative ? -v : v;
  }

  TPropertyValue Value() {
    TPropertyValue v;
    v.line = line_;
    if (Peek(L'"')) {
      v.kind = TPropertyValue::Kind::Text;
      v.text = Quoted();
    } else if (Peek(L'[')) {
      ++pos_;
      v.kind = TPropertyValue::Kind::List;
      while (!Peek(L']')) {
        if (!v.items.empty()) Expect(L',');
        v.items.push_back(Peek(L'"') ? Quoted() : Ident());
      }
      ++pos_;
    } else if (PeekIdent()) {
      v.kind = TPropertyValue::Kind::Ident;
      v.text = Ident();
    } else {
      v.kind = TPropertyValue::Kind::Integer;
      v.integer = Integer();
    }
    return v;
  }

  TComponentDef Component() {
    TComponentDef def;
    SkipSpace();
    def.line = line_;
    def.className = Ident();
    def.name = Ident();
    Expect(L'{');
    while (!Peek(L'}')) {
      if (pos_ >= s_.size()) Fail(L"missing '}' of " + def.name);
      size_t mark = pos_;
      int markLine = line_;
      String first = Ident();
      if (Peek(L'=')) {
        ++pos_;
        def.properties.emplace_back(first, Value());
      } else {
        pos_ = mark;
        line_ = markLine;
        def.children.push_back(Component());
      }
    }
    ++pos_;
    return def;
  }

  const String& s_;
  size_t pos_ = 0;
  int line_ = 1;
};

}  // namespace

TComponentDef ReadFormDefinition(const String& text) { return Reader(text).Document(); }

}  // namespace vcl

namespace vcl {
namespace {

[[noreturn]] void WrongKind(const String& name, const TPropertyValue& value, const wchar_t* kind) {
  FormDefinitionError(value.line, name + L" needs " + kind);
}

}  // namespace

void FormDefinitionError(int line, const String& what) {
  throw Exception(L"Form definition, line " + IntToStr(line) + L": " + what);
}

int PropertyInt(const String& name, const TPropertyValue& value) {
  if (value.kind != TPropertyValue::Kind::Integer) WrongKind(name, value, L"a number");
  return static_cast<int>(value.integer);
}

bool PropertyBool(const String& name, const TPropertyValue& value) {
  if (value.kind == TPropertyValue::Kind::Ident && value.text == L"true") return true;
  if (value.kind == TPropertyValue::Kind::Ident && value.text == L"false") return false;
  WrongKind(name, value, L"true or false");
}

const String& PropertyText(const String& name, const TPropertyValue& value) {
  if (value.kind != TPropertyValue::Kind::Text) WrongKind(name, value, L"a string");
  return value.text;
}

const String& PropertyIdent(const String& name, const TPropertyValue& value) {
  if (value.kind != TPropertyValue::Kind::Ident) WrongKind(name, value, L"a name");
  return value.text;
}

const std::vector<String>& PropertyList(const String& name, const TPropertyValue& value) {
  if (value.kind != TPropertyValue::Kind::List) WrongKind(name, value, L"a list");
  return value.items;
}

}  // namespace vcl
