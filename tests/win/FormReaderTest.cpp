// The form definition reader: what it accepts and how it reports what it does not; and what a
// form says when its definition or a resource it names is wrong.
#include <gtest/gtest.h>

#include <algorithm>

#include "FormReader.h"
#include "Forms.h"
#include "SysUtils.h"

using namespace vcl;

namespace {

TEST(FormReader, ReadsNestedControlsPropertiesAndEscapes) {
  TComponentDef def = ReadFormDefinition(
      L"# comment\nTF f {\n  Caption = \"a \\\"b\\\" \\\\ \\n\"\n  Left = -3\n"
      L"  Items = [\"РУС\", \"ENG\"]\n  OnClick = go\n  TLabel l { Font.Bold = true }\n}\n");
  EXPECT_EQ(def.className, L"TF");
  EXPECT_EQ(def.name, L"f");
  ASSERT_EQ(def.properties.size(), 4u);
  EXPECT_EQ(def.properties[0].second.text, L"a \"b\" \\ \n");
  EXPECT_EQ(def.properties[1].second.integer, -3);
  EXPECT_EQ(def.properties[2].second.items, (std::vector<String>{L"РУС", L"ENG"}));
  EXPECT_EQ(def.properties[3].second.kind, TPropertyValue::Kind::Ident);
  ASSERT_EQ(def.children.size(), 1u);
  EXPECT_EQ(def.children[0].properties[0].first, L"Font.Bold");
  EXPECT_EQ(def.children[0].line, 7);
}

TEST(FormReader, RejectsBrokenTextNamingTheLine) {
  const struct {
    const wchar_t* text;
    const wchar_t* message;
  } cases[] = {
      {L"TF f {\n Caption = \"open\n}", L"line 2: unterminated string"},
      {L"TF f {\n Left = \n}", L"line 3: expected a number"},
      {L"TF f {\n Left = 1\n", L"missing '}'"},
      {L"TF f { }\nextra", L"line 2: text after the end"},
      {L"TF f {\n Caption = \"\\t\"\n}", L"line 2: unknown escape"},
      {L"TF f { Left = 99999999999 }", L"number out of range"},
  };
  for (const auto& c : cases) {
    try {
      ReadFormDefinition(c.text);
      ADD_FAILURE() << "accepted case " << (&c - cases);
    } catch (const Exception& e) {
      EXPECT_NE(e.Message().find(c.message), String::npos) << "case " << (&c - cases);
    }
  }
}

// The forms come from tests/win/broken_forms.rc. A failed system call is reported with the
// system's own words for its error (a missing resource: its name, or on some systems the type,
// is not found); a wrong value in a definition with its line.
TEST(FormErrors, SayWhatFailedWhereAndWhy) {
  const String missingName = SysErrorMessage(ERROR_RESOURCE_NAME_NOT_FOUND);
  const String missingType = SysErrorMessage(ERROR_RESOURCE_TYPE_NOT_FOUND);
  const struct {
    const wchar_t* resource;
    std::vector<String> messages;  // any one of them
  } cases[] = {
      {L"NOSUCHFORM", {L"Resource NOSUCHFORM not found: " + missingName}},
      {L"MISSINGICON",
       {L"Cannot load the icon NOSUCHICON: " + missingName, L"Cannot load the icon NOSUCHICON: " + missingType}},
      {L"BADCOLOUR", {L"Form definition, line 5: Color cannot be clPurple"}},
      {L"BADALIGNMENT", {L"Form definition, line 4: Alignment cannot be taJustify"}},
  };
  for (const auto& c : cases) {
    try {
      TForm form(nullptr, c.resource);
      ADD_FAILURE() << "form " << (&c - cases) << " was made";
    } catch (const Exception& e) {
      EXPECT_NE(std::find(c.messages.begin(), c.messages.end(), e.Message()), c.messages.end())
          << "form " << (&c - cases) << ": " << StringToUtf8(e.Message());
    }
  }
}

}  // namespace
