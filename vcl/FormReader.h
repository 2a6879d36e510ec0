// Reader of our form definitions: a small declarative text (UTF-8 in the resource) naming each
// control with its class, its properties and the names of its event handlers.
//
//   TmainForm mainForm {
//     Caption = "Velmora Tizen Installer"      # strings use C escapes: \" \\ \n
//     Font.Height = 16
//     TRadioGroup langRG {
//       Items = ["РУС", "ENG"]
//       OnClick = langRGClick                   # identifiers: handler names, enums, true/false
//     }
//   }
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "System.h"

namespace vcl {

struct TPropertyValue {
  enum class Kind { Integer, Text, Ident, List };
  Kind kind = Kind::Integer;
  long long integer = 0;
  String text;                // Text and Ident
  std::vector<String> items;  // List: strings or identifiers
  int line = 0;
};

struct TComponentDef {
  String className;
  String name;
  std::vector<std::pair<String, TPropertyValue>> properties;
  std::vector<TComponentDef> children;
  int line = 0;
};

// Parses one definition; throws Exception naming the line on any syntax error.
TComponentDef ReadFormDefinition(const String& text);

}  // namespace vcl

namespace vcl {

// Throws Exception: "Form definition, line N: " followed by what is wrong there.
[[noreturn]] void FormDefinitionError(int line, const String& what);

// Typed reads of a property value; each throws Exception naming the line and the property on a
// kind mismatch.
int PropertyInt(const String& name, const TPropertyValue& value);
bool PropertyBool(const String& name, const TPropertyValue& value);
const String& PropertyText(const String& name, const TPropertyValue& value);
const String& PropertyIdent(const String& name, const TPropertyValue& value);
const std::vector<String>& PropertyList(const String& name, const TPropertyValue& value);

// One of the names a property can take, and what it stands for.
template <class T>
struct TNamedValue {
  const wchar_t* name;
  T value;
};

// What the property's name stands for; throws Exception naming the line for any other name.
template <class T, size_t N>
T PropertyNamed(const String& name, const TPropertyValue& value, const TNamedValue<T> (&names)[N]) {
  const String& given = PropertyIdent(name, value);
  for (const TNamedValue<T>& n : names)
    if (given == n.name) return n.value;
  FormDefinitionError(value.line, name + L" cannot be " + given);
}

}  // namespace vcl
