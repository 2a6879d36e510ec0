// Build settings, placeholders and the modification time: what wgtpack accepts and refuses.
#include "error.h"
#include "package.h"

#include <gtest/gtest.h>

namespace {

wgtpack::Settings good() {
  return {"https://portal.velmora.example/tv/", "velmora.example", "https://www.velmora.example/",
          "support@velmora.example"};
}

}  // namespace

TEST(Settings, PortalUrl) {
  struct Case {
    const char* url;
    bool ok;
  } cases[] = {
      {"https://portal.velmora.example/tv/", true},
      {"http://127.0.0.1:8080/", true},
      {"https://portal.velmora.example/", true},
      {"https://portal.velmora.example/tv", false},      // must end with "/"
      {"portal.velmora.example/tv/", false},             // not absolute
      {"ftp://portal.velmora.example/", false},          // not web
      {"https://portal.velmora.example/a?b=c/", false},  // main.js would cut it at "="
      {"https://portal.velmora.example/a&b/", false},    // ... or at "&"
      {"https://portal.velmora.example/#x/", false},     // fragment
      {"https://portal.velmora.example/a%20b/", false},  // decodeURIComponent would change it
      {"https://portal.velmora.example/\"x/", false},    // breaks the JavaScript string
      {"https://portal.velmora.example/a b/", false},
      {"https:///", false},
  };
  for (const Case& c : cases) {
    auto s = good();
    s.portalUrl = c.url;
    if (c.ok)
      EXPECT_NO_THROW(wgtpack::validate(s)) << c.url;
    else
      EXPECT_THROW(wgtpack::validate(s), wgtpack::Error) << c.url;
  }
}

TEST(Settings, OtherValues) {
  auto s = good();
  s.widgetHost = "yourdomain";
  EXPECT_NO_THROW(wgtpack::validate(s));
  s.widgetHost = "bad/host";
  EXPECT_THROW(wgtpack::validate(s), wgtpack::Error);
  s = good();
  s.authorHref = "https://www.velmora.example/\"><x";
  EXPECT_THROW(wgtpack::validate(s), wgtpack::Error);
  s = good();
  s.authorEmail = "support";
  EXPECT_THROW(wgtpack::validate(s), wgtpack::Error);
  s.authorEmail = "a\"b@velmora.example";
  EXPECT_THROW(wgtpack::validate(s), wgtpack::Error);
}

TEST(Placeholders, SubstitutedOnceAndUnknownRefused) {
  const auto values = wgtpack::placeholders(good());
  EXPECT_EQ(wgtpack::substitute("a @PORTAL_URL@ b @WIDGET_HOST@@AUTHOR_EMAIL@", values, "f"),
            "a https://portal.velmora.example/tv/ b velmora.examplesupport@velmora.example");
  // A value is not scanned again, and lower-case "@media"-like text is no placeholder.
  EXPECT_EQ(wgtpack::substitute("@X@", {{"X", "@PORTAL_URL@"}}, "f"), "@PORTAL_URL@");
  EXPECT_EQ(wgtpack::substitute("@media screen { } a@b.c", values, "f"), "@media screen { } a@b.c");
  try {
    wgtpack::substitute("x @PORTAL@ y", values, "/src/main.js");
    FAIL() << "unknown placeholder accepted";
  } catch (const wgtpack::Error& e) {
    EXPECT_NE(std::string(e.what()).find("/src/main.js"), std::string::npos);
    EXPECT_NE(std::string(e.what()).find("@PORTAL@"), std::string::npos);
  }
}

TEST(ModificationTime, Parsing) {
  const auto t = wgtpack::parseDosTime("2025-01-01T00:00:00");
  EXPECT_EQ(t.date, (45 << 9) | (1 << 5) | 1);
  EXPECT_EQ(t.time, 0);
  const auto u = wgtpack::parseDosTime("2107-12-31T23:59:58");
  EXPECT_EQ(u.date, (127 << 9) | (12 << 5) | 31);
  EXPECT_EQ(u.time, (23 << 11) | (59 << 5) | 29);
  EXPECT_NO_THROW(wgtpack::parseDosTime("2024-02-29T10:00:00"));
  for (const char* bad :
       {"2025-01-01", "2025-01-01 00:00:00", "1979-12-31T00:00:00", "2108-01-01T00:00:00", "2025-13-01T00:00:00",
        "2025-02-29T00:00:00", "2025-01-01T24:00:00", "2025-01-01T00:00:01", "2025-1-01T00:00:00"})
    EXPECT_THROW(wgtpack::parseDosTime(bad), wgtpack::Error) << bad;
}

TEST(ModificationTime, SourceDateEpoch) {
  // 1735734896 = 2025-01-01T12:34:56Z
  const auto t = wgtpack::dosTimeFromEpoch("1735734896");
  EXPECT_EQ(t.date, (45 << 9) | (1 << 5) | 1);
  EXPECT_EQ(t.time, (12 << 11) | (34 << 5) | 28);
  // Odd seconds round down to the 2-second step.
  EXPECT_EQ(wgtpack::dosTimeFromEpoch("1735734897").time, t.time);
  for (const char* bad : {"", "abc", "-1", "12x", "315532799"})
    EXPECT_THROW(wgtpack::dosTimeFromEpoch(bad), wgtpack::Error) << bad;
}
