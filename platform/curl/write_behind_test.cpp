#include "platform/curl/write_behind.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include "tests/support/temp_dir.hpp"

namespace tarvel {
namespace {

using Settled = BatchSink::Settled;

constexpr std::size_t kMiB = 1024 * 1024;
constexpr const char* kAddress = "http://127.0.0.1/pkg/body.bin";
constexpr const char* kVersion = "\"v1\"";

// Sees the body as the check of a real download does, and says whether it
// was exactly the expected one, in order.
struct ExactBody final : BodyCheck {
  explicit ExactBody(std::string expected) : expected(std::move(expected)) {}
  void restart() override { seen.clear(); }
  void add(const char* data, std::size_t size) override { seen.append(data, size); }
  bool matches() override { return seen == expected; }
  std::string expected;
  std::string seen;
};

std::string body_of(std::size_t size) {
  std::string body(size, '\0');
  for (std::size_t i = 0; i < size; ++i) body[i] = static_cast<char>('a' + (i * 7 + i / 4096) % 26);
  return body;
}

// Hands body[from, to) to the sink in pieces of uneven sizes, as a transfer does.
bool pass(BatchSink& sink, const std::string& body, std::size_t from, std::size_t to) {
  for (std::size_t at = from, piece = 1; at < to; piece = piece * 3 % 700001 + 1) {
    const std::size_t size = std::min(piece, to - at);
    if (!sink.write(body.data() + at, size)) return false;
    at += size;
  }
  return true;
}

Settled settle(BufferedFileSink& sink, WriteBehind& writer) {
  writer.drain();
  return sink.settled();
}

struct WriteBehindTest : ::testing::Test {
  testing::TempDir dir;
};

// However the copies wait for the writer (one at a time, a few, the
// default), the body is written in order and checked whole, and a body that
// fails its check is never put in place.
TEST_F(WriteBehindTest, ACheckedBodyIsWrittenAndCheckedWholeWhateverTheCopyBudget) {
  const std::string body = body_of(9 * kMiB + 5);
  for (const std::size_t budget : {std::size_t{1}, 3 * kMiB, WriteBehind::kCopyBudget}) {
    for (const bool right : {true, false}) {
      SCOPED_TRACE(std::to_string(budget) + (right ? " right" : " wrong"));
      WriteBehind writer([] {}, budget);
      std::string expected = body;
      if (!right) expected.back() = static_cast<char>(expected.back() ^ 1);
      BufferedFileSink sink(dir / "body.bin", dir.path(), kAddress, writer,
                            std::make_shared<ExactBody>(expected));
      ASSERT_TRUE(sink.open(0, kVersion));
      ASSERT_TRUE(pass(sink, body, 0, body.size()));
      ASSERT_TRUE(sink.commit());
      EXPECT_EQ(settle(sink, writer), right ? Settled::in_place : Settled::not_expected);
      EXPECT_EQ(dir.exists("body.bin"), right);
      if (right) {
        EXPECT_TRUE(dir.read("body.bin") == body);
      }
      EXPECT_FALSE(dir.exists(".body.bin.tarvel-part"));
      ::unlink((dir / "body.bin").c_str());
    }
  }
}

// An attempt that breaks off keeps a part holding all that arrived, also
// what had not reached the writer yet; the next attempt continues it, the
// part read back into the check first.
TEST_F(WriteBehindTest, ABrokenOffBodyKeepsAllThatArrivedAndIsContinuedChecked) {
  const std::string body = body_of(5 * kMiB + 3);
  const std::size_t cut = kMiB + kMiB / 2 + 7;
  WriteBehind writer([] {});
  {
    BufferedFileSink first(dir / "body.bin", dir.path(), kAddress, writer,
                           std::make_shared<ExactBody>(body));
    ASSERT_TRUE(first.open(0, kVersion));
    ASSERT_TRUE(pass(first, body, 0, cut));
    first.interrupt();
  }
  EXPECT_TRUE(dir.read(".body.bin.tarvel-part") == body.substr(0, cut));

  auto check = std::make_shared<ExactBody>(body);
  BufferedFileSink next(dir / "body.bin", dir.path(), kAddress, writer, check);
  const ResumePoint held = next.resume_point();
  ASSERT_EQ(held.bytes, cut);
  ASSERT_TRUE(next.open(held.bytes, held.validator));
  ASSERT_TRUE(pass(next, body, cut, body.size()));
  ASSERT_TRUE(next.commit());
  EXPECT_EQ(settle(next, writer), Settled::in_place);
  EXPECT_TRUE(check->seen == body) << "the check saw the kept part once, then the rest";
  EXPECT_TRUE(dir.read("body.bin") == body);
}

}  // namespace
}  // namespace tarvel
