#include "platform/gtk/web_text.hpp"

#include <gtest/gtest.h>

namespace tarvel {
namespace {

TEST(WebTextTest, NarrowTextIsLatin1) {
  EXPECT_EQ(latin1_to_utf8("Err=405"), "Err=405");
  EXPECT_EQ(latin1_to_utf8("Gr\xFC\xDF"), "Gr\xC3\xBC\xC3\x9F");
  EXPECT_EQ(latin1_to_utf8(std::string("a\0b", 3)), std::string("a\0b", 3));
}

TEST(WebTextTest, Utf16AndUtf8RoundTrip) {
  const std::u16string texts[] = {u"",         u"lang=de",        u"Gr\u00FC\u00DF",
                                  u"\u20AC 5", u"\U0001F0A1 ace", u"quote \" and </script>"};
  for (const auto& text : texts) EXPECT_EQ(utf8_to_utf16(utf16_to_utf8(text)), text);
}

TEST(WebTextTest, BrokenInputBecomesReplacementCharacters) {
  EXPECT_EQ(utf16_to_utf8(u"a\xD800"), "a\xEF\xBF\xBD");  // a lone high half
  EXPECT_EQ(utf16_to_utf8(u"\xDC00z"), "\xEF\xBF\xBDz");  // a lone low half
  EXPECT_EQ(utf8_to_utf16("a\xFF"
                          "b"),
            u"a\uFFFDb");
  EXPECT_EQ(utf8_to_utf16("\xC3"), u"\uFFFD");          // cut short
  EXPECT_EQ(utf8_to_utf16("\xC0\xAF"), u"\uFFFD");      // an overlong "/"
  EXPECT_EQ(utf8_to_utf16("\xED\xA0\x80"), u"\uFFFD");  // a surrogate
}

}  // namespace
}  // namespace tarvel
