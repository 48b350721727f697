#include "update/sums.hpp"

#include <gtest/gtest.h>

#include <algorithm>

#include "core/text_lines.hpp"
#include "update/release_check.hpp"

namespace tarvel {
namespace {

const std::string kSumA(64, 'a');
const std::string kSumB(64, 'b');

std::string header() { return "tarvel-sums 1\nmanifest " + kSumA + "\nversion $version-1.2\n"; }

TEST(Sums, ReadBackAsWrittenWithPathsThatHoldSpaces) {
  Sums sums{"common_slot_install.xml", kSumA, "$version-1.2", 7, {}};
  sums.files["COMMON/app popup/login.swf"] = {kSumB, 18231};
  sums.files["GAMES/slot/a.swf"] = {kSumA, 0};
  std::string error;
  EXPECT_EQ(parse_sums(sums_text(sums), error), sums) << error;
  // Comments, empty lines and a "\" written by a manifest line are accepted.
  const auto read = parse_sums(
      "# made by hand\n\n" + header() + "serial 3\r\nfile " + kSumB + " 5 GAMES\\slot\\b.swf\n",
      error);
  ASSERT_TRUE(read) << error;
  EXPECT_EQ(read->serial, 3u);
  EXPECT_EQ(read->files.at("GAMES/slot/b.swf"), (FileSum{kSumB, 5}));
}

// Compressed copies and patches travel in lines that launchers which know
// nothing of them skip as comments: the rest reads the same there.
TEST(Sums, CompressedCopiesAndPatchesReadBackAndHideFromOlderReaders) {
  Sums sums{"common_slot_install.xml", kSumA, "$version-1.2", 7, {}};
  sums.files["GAMES/slot/a b.js"] = {kSumB, 900};
  sums.compressed["GAMES/slot/a b.js"] = {kSumA, 300};
  sums.patches["GAMES/slot/a b.js"] = {{kSumA, {kSumB, 40}}, {kSumB, {kSumA, 41}}};
  const std::string text = sums_text(sums);
  std::string error;
  EXPECT_EQ(parse_sums(text, error), sums) << error;
  std::string as_older_readers_see_it;
  for (const std::string_view line : text_lines(text)) {
    if (!line.starts_with("#")) as_older_readers_see_it.append(line).append("\n");
  }
  Sums plain = sums;
  plain.compressed.clear();
  plain.patches.clear();
  EXPECT_EQ(as_older_readers_see_it, sums_text(plain));
  // A second patch from the same base would be ambiguous.
  EXPECT_FALSE(parse_sums(text + "#patch " + kSumA + " " + kSumB + " 1 GAMES/slot/a b.js\n",
                          error));
  EXPECT_EQ(patch_suffix(kSumA), ".from-aaaaaaaaaaaaaaaa.zpatch");
}

TEST(Sums, AnyLineOutOfFormatRefusesTheWholeFile) {
  const std::string file = "file " + kSumB + " 5 a/b.swf\n";
  const std::string refused[] = {
      "",                                                                  // nothing at all
      "tarvel-sums 2\nmanifest " + kSumA + "\nserial 1\n",                 // another format
      header() + file,                                                     // no serial
      "tarvel-sums 1\nversion v\nserial 1\n",                              // no manifest sum
      header() + "serial -1\n",                                            // not a number
      header() + "serial 18446744073709551616\n",                          // too large
      header() + "serial 1\nfile " + kSumB + " 5\n",                       // no path
      header() + "serial 1\nfile " + kSumB + " +5 a.swf\n",                // a sign
      header() + "serial 1\nfile " + kSumB.substr(1) + " 5 a.swf\n",       // short digest
      header() + "serial 1\nfile " + std::string(64, 'A') + " 5 a.swf\n",  // upper case
      header() + "serial 1\n" + file + file,                               // the same path twice
      header() + "serial 1\nfiles " + kSumB + " 5 a.swf\n",                // an unknown line
      header() + "serial 1\npackage a.xml\npackage b.xml\n",              // two packages
      header() + "serial 1\npackage \n",                                  // an empty one
      header() + "serial 1\n#zst " + kSumB + " 5\n",                      // a copy without path
      header() + "serial 1\n#patch " + kSumA + " 5 a.swf\n",              // a patch without base
      header() + "serial 1\n#patch x " + kSumB + " 5 a.swf\n",            // a base not a digest
      header() + "serial 1\nfile " + kSumB + " 5 a.swf\r\r\n",              // a stray CR in a path
      header() + "serial 1\nversion 1.0\r\r\n",                            // or in a value
  };
  for (const std::string& text : refused) {
    std::string error;
    EXPECT_FALSE(parse_sums(text, error)) << text;
    EXPECT_FALSE(error.empty()) << text;
  }
}

TEST(Sums, BodyCheckWantsTheExactBytesAndSaysOnceWhenItGotOthers) {
  const std::string body = "the whole body";
  const auto check = body_check({sha256_hex(body), body.size()}, "COMMON/a.swf");
  check->add(body.data(), 4);
  check->add(body.data() + 4, body.size() - 4);
  EXPECT_TRUE(check->matches());
  ::testing::internal::CaptureStderr();
  check->restart();
  check->add(body.data(), body.size() - 1);
  EXPECT_FALSE(check->matches()) << "cut short";
  check->restart();
  const std::string other = "the whole bodY";
  check->add(other.data(), other.size());
  EXPECT_FALSE(check->matches()) << "same size, other bytes";
  const std::string said = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(said.rfind("tarvel: COMMON/a.swf: arrived as 13 bytes", 0), 0u) << said;
  EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
  EXPECT_EQ(sha256_hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
}

// Sums bind their package; those of the first form, which named none, are
// taken only where no key asks for signed sums.
TEST(Sums, VouchOnlyForTheirOwnPackage) {
  Sums sums{"common_slot_install.xml", kSumA, "$version-1.2", 7, {}};
  ExpectedRelease expected{"common_slot_install.xml", kSumA, "$version-1.2", 7, true};
  EXPECT_EQ(sums_refusal(sums, expected), std::nullopt);
  expected.package = "common_poker_install.xml";
  EXPECT_NE(sums_refusal(sums, expected), std::nullopt) << "another package's";
  sums.package.clear();
  EXPECT_NE(sums_refusal(sums, expected), std::nullopt) << "first form, signed";
  expected.signed_release = false;
  EXPECT_EQ(sums_refusal(sums, expected), std::nullopt) << "first form, no key";
}

std::string from_hex(const std::string& hex) {
  std::string bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

// The first test vector of RFC 8032: an empty message.
TEST(Signature, AcceptsOnlyTheKeysOwnSignatureOfTheseExactBytes) {
  const std::string key =
      base64_encode(from_hex("d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a"));
  const std::string signature = base64_encode(
      from_hex("e5564300c360ac729086e2cc806e828a84877f1eb8e5d974d873e065224901555fb8821590a33bacc6"
               "1e39701cf9b46bd25bf5f0595bbe24655141438e7a100b"));
  EXPECT_TRUE(public_key_valid(key));
  EXPECT_TRUE(signature_valid(key, "", signature + "\n"));
  EXPECT_FALSE(signature_valid(key, "x", signature)) << "other bytes";
  std::string flipped = from_hex(
      "e5564300c360ac729086e2cc806e828a84877f1eb8e5d974d873e065224901"
      "555fb8821590a33bacc61e39701cf9b46bd25bf5f0595bbe24655141438e7a10"
      "0b");
  flipped[0] = static_cast<char>(flipped[0] ^ 1);
  EXPECT_FALSE(signature_valid(key, "", base64_encode(flipped)));
  EXPECT_FALSE(signature_valid(key, "", "not base64!"));
  EXPECT_FALSE(signature_valid(key, "", base64_encode("short")));
  EXPECT_FALSE(public_key_valid(base64_encode("too short")));
  EXPECT_FALSE(signature_valid("", "", signature));
}

// A key or signature comes from a file or a server: malformed text is a
// refusal, never an exception.
TEST(Signature, MalformedBase64IsRefused) {
  for (const std::string& bytes :
       {std::string("a"), std::string("abcd"), std::string("\0\xff\x10", 3)}) {
    EXPECT_EQ(base64_decode(" " + base64_encode(bytes) + "\n"), bytes);
  }
  const std::string key = base64_encode(std::string(32, '\x01'));
  const char* malformed[] = {"",     "=",    "==",   "====", "========", "A===",
                             "AB=C", "=ABC", "AB C", "AB-_", "QUJD\n=", "QQ==QQ=="};
  for (const char* text : malformed) {
    EXPECT_EQ(base64_decode(text), std::nullopt) << text;
    EXPECT_FALSE(public_key_valid(text)) << text;
    EXPECT_FALSE(signature_valid(key, "", text)) << text;
    EXPECT_FALSE(signature_valid(text, "", base64_encode(std::string(64, 'x')))) << text;
  }
}

}  // namespace
}  // namespace tarvel
