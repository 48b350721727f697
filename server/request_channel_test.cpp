#include "server/request_channel.hpp"

#include <gtest/gtest.h>

#include "server/cut_at.hpp"
#include "tests/support/request_service_double.hpp"
#include "tests/support/test_app.hpp"

namespace tarvel {
namespace {

using testing::RequestServiceDouble;
using testing::write_config;

std::string app_dir(testing::TestApp& t) { return t.app.settings().application_directory(); }

TEST(PostRequest, SendsTheDocumentAndReadsServerUrlAfreshEachTime) {
  testing::TestApp t;
  RequestServiceDouble first;
  RequestServiceDouble second;
  first.answer({200, "<ok/>", {}});
  write_config(app_dir(t), {{"ServerURL", first.address()}});
  EXPECT_EQ(post_request(t.app, "<request>1</request>"), u"<ok/>");

  write_config(app_dir(t), {{"ServerURL", second.address("/other")}});
  EXPECT_EQ(post_request(t.app, "<request>2</request>"), u"");

  ASSERT_EQ(first.received().size(), 1u);
  EXPECT_EQ(first.received()[0].body, "<request>1</request>");
  ASSERT_EQ(second.received().size(), 1u);
  EXPECT_EQ(second.received()[0].path, "/other");
  EXPECT_EQ(second.received()[0].body, "<request>2</request>");
}

TEST(PostRequest, ErrorStatusWithABodyIsACompletedExchange) {
  testing::TestApp t;
  RequestServiceDouble service;
  service.answer({500, "<html>Internal Server Error</html>", {}});
  write_config(app_dir(t), {{"ServerURL", service.address()}});
  EXPECT_EQ(post_request(t.app, "x"), u"<html>Internal Server Error</html>");
}

TEST(PostRequest, MissingServerUrlOrUnreachableServiceFails) {
  testing::TestApp t;
  RequestServiceDouble service;
  write_config(app_dir(t), {{"Key", service.address()}});  // an address, but not ServerURL
  EXPECT_EQ(post_request(t.app, "x"), std::nullopt);
  EXPECT_TRUE(service.received().empty());

  testing::RefusingAddress nowhere;
  write_config(app_dir(t), {{"ServerURL", nowhere.address()}});
  EXPECT_EQ(post_request(t.app, "x"), std::nullopt);
}

TEST(PostRequest, TextGoesOutAsUtf8AndComesBackDecoded) {
  testing::TestApp t;
  RequestServiceDouble service;
  service.answer({200,
                  "\xEF\xBB\xBF"
                  "J\xC3\xBCrgen \xE2\x82\xAC",
                  {}});
  write_config(app_dir(t), {{"ServerURL", service.address()}});
  EXPECT_EQ(post_request(t.app, "J\xFCrgen"), u"J\u00FCrgen \u20AC");
  EXPECT_EQ(service.received().at(0).body, "J\xC3\xBCrgen");
}

TEST(ResponseDecoding, Utf8OrByteForByte) {
  EXPECT_EQ(decode_response(""), u"");
  EXPECT_EQ(decode_response("plain"), u"plain");
  EXPECT_EQ(decode_response("\xF0\x9F\x8E\xB2"), u"\U0001F3B2");
  // Not UTF-8 (a lone Latin-1 byte, an overlong form, an encoded surrogate):
  // every byte is one character.
  EXPECT_EQ(decode_response("caf\xE9"), u"caf\u00E9");
  EXPECT_EQ(decode_response("\xC0\xAF"), u"\u00C0\u00AF");
  EXPECT_EQ(decode_response("\xED\xA0\x80"), u"\u00ED\u00A0\u0080");
  EXPECT_EQ(decode_response("\xE2\x82"), u"\u00E2\u0082") << "cut-off sequence";
}

TEST(XmlEscape, MarkupCharactersBecomeReferences) {
  EXPECT_EQ(xml_escape("plain name_1"), "plain name_1");
  EXPECT_EQ(xml_escape("a&b<c>d\"e'f"), "a&amp;b&lt;c&gt;d&quot;e&apos;f");
  EXPECT_EQ(xml_escape("</properties><properties name=\"password\">"),
            "&lt;/properties&gt;&lt;properties name=&quot;password&quot;&gt;");
}

TEST(CutAt, DropsDelimitersAndEmptyPieces) {
  using Pieces = std::vector<std::string>;
  EXPECT_EQ(cut_at("a>b>c", ">"), (Pieces{"a", "b", "c"}));
  EXPECT_EQ(cut_at(">>a>>b>", ">"), (Pieces{"a", "b"}));
  EXPECT_EQ(cut_at("800,600", ","), (Pieces{"800", "600"}));
  EXPECT_EQ(cut_at("a<b>c", "<>"), (Pieces{"a", "b", "c"}));
  EXPECT_EQ(cut_at("", ">"), Pieces{});
  EXPECT_EQ(cut_at(">>>", ">"), Pieces{});
  EXPECT_EQ(cut_at("whole", ""), Pieces{"whole"});
  EXPECT_EQ(cut_at("\n", ">"), Pieces{"\n"});
}

}  // namespace
}  // namespace tarvel
