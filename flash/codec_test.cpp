#include "flash/codec.hpp"

#include <gtest/gtest.h>

namespace tarvel {
namespace {

ParsedRequest parse(const std::string& text) { return parse_request(widen(text)); }

TEST(CodecParse, NameAndStringArgumentsInOrder) {
  const auto parsed = parse(
      R"(<invoke name="validate" returntype="xml"><arguments><string>ann</string>)"
      R"(<string>secret</string><string>en</string></arguments></invoke>)");
  EXPECT_EQ(parsed.name, "validate");
  EXPECT_EQ(parsed.arguments, (std::vector<std::string>{"ann", "secret", "en"}));
}

TEST(CodecParse, ShortNamesAreExact) {
  for (const std::string name : {"exit", "lang"}) {
    const auto parsed = parse(build_invoke(name, {}));
    EXPECT_EQ(parsed.name, name);
    EXPECT_TRUE(parsed.arguments.empty());
  }
}

TEST(CodecParse, EmptyArgumentsAndEmptyStrings) {
  EXPECT_TRUE(parse(R"(<invoke name="a"><arguments></arguments></invoke>)").arguments.empty());
  EXPECT_EQ(parse(R"(<invoke name="a"><arguments><string></string></arguments></invoke>)").arguments,
            std::vector<std::string>{""});
}

TEST(CodecParse, ArgumentsAreTakenVerbatim) {
  const auto parsed = parse(build_invoke("x", {"a&amp;b", "<", "  spaced  "}));
  EXPECT_EQ(parsed.arguments, (std::vector<std::string>{"a&amp;b", "<", "  spaced  "}));
}

TEST(CodecParse, StringsOutsideArgumentsAreIgnored) {
  EXPECT_TRUE(parse(R"(<invoke name="a"><string>x</string></invoke>)").arguments.empty());
  // Only the opening tag present is still no argument list.
  EXPECT_TRUE(parse(R"(<invoke name="a"><arguments><string>x</string>)").arguments.empty());
}

TEST(CodecParse, OtherTypesSkippedNestedStringsCollected) {
  const auto parsed = parse(
      R"(<invoke name="f"><arguments><number>3</number><true/><string>a</string>)"
      R"(<array><property id="0"><string>b</string></property></array></arguments></invoke>)");
  EXPECT_EQ(parsed.arguments, (std::vector<std::string>{"a", "b"}));
}

TEST(CodecParse, MalformedRequestsNeverFail) {
  EXPECT_EQ(parse("garbage").name, "garbage");
  EXPECT_EQ(parse("name= without quote").name, "name= without quote");
  EXPECT_EQ(parse(R"(<invoke name="open)").name, "open");
  EXPECT_EQ(parse("").name, "");
  // A close tag before the next open tag ends the scan.
  EXPECT_EQ(parse(R"(<invoke name="a"><arguments></string><string>x</arguments>)").arguments,
            std::vector<std::string>{});
}

TEST(CodecCall, AddTextCarriesTextExactlyAndUnescaped) {
  EXPECT_EQ(narrow(build_add_text_call("Err=402")),
            R"(<invoke name="addText" returntype="xml"><arguments><string>Err=402</string>)"
            R"(</arguments></invoke>)");
  const auto parsed = parse_request(build_add_text_call("a<b>&c"));
  EXPECT_EQ(parsed.name, "addText");
  EXPECT_EQ(parsed.arguments, std::vector<std::string>{"a<b>&c"});
  // A host that reads the call back gets the text whole, whatever it holds.
  using namespace std::string_literals;
  for (const std::string& text : {""s, "a</string>b"s, "nul\0inside"s, "</arguments></invoke>"s}) {
    EXPECT_EQ(add_text_of(build_add_text_call(text)), text) << text;
  }
  EXPECT_EQ(add_text_of(widen(build_invoke("other", {"x"}))), std::nullopt);
  EXPECT_EQ(add_text_of(widen(build_invoke("addText", {"a", "b"})).substr(1)), std::nullopt);
}

TEST(CodecConversion, OneByteIsOneUnit) {
  const std::string all_bytes = [] {
    std::string s;
    for (int b = 0; b < 256; ++b) s.push_back(static_cast<char>(b));
    return s;
  }();
  const WideText wide = widen(all_bytes);
  ASSERT_EQ(wide.size(), 256u);
  EXPECT_EQ(wide[0x41], u'A');
  EXPECT_EQ(wide[0xE9], char16_t{0xE9});
  EXPECT_EQ(narrow(wide), all_bytes);
  EXPECT_EQ(narrow(u"\u0141x"), "Ax");  // U+0141 keeps its low byte 0x41
}

}  // namespace
}  // namespace tarvel
