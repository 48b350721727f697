#include <gtest/gtest.h>
#include <zstd.h>

#include <random>

#include "platform/curl/curl_http_get.hpp"
#include "platform/curl/mirrors.hpp"
#include "tests/support/temp_dir.hpp"
#include "tests/support/test_app.hpp"
#include "tests/support/test_http_server.hpp"

namespace tarvel {
namespace {

using Fault = testing::TestHttpServer::Fault;
using namespace std::chrono_literals;

TEST(MirrorMemory, FailedAddressesArePassedOverForAWhile) {
  const MirrorGroups groups{{"http://a/x/", "http://b/", "http://c/y/"}};
  MirrorMemory memory(60s);
  const auto t0 = MirrorMemory::Clock::now();
  const struct {
    const char* address;
    std::vector<std::string> expected;
  } before_failures[] = {
      {"http://a/x/f.js", {"http://a/x/f.js", "http://b/f.js", "http://c/y/f.js"}},
      {"http://c/y/d/f.js", {"http://a/x/d/f.js", "http://b/d/f.js", "http://c/y/d/f.js"}},
      {"http://other/f.js", {"http://other/f.js"}},
  };
  for (const auto& row : before_failures) {
    EXPECT_EQ(memory.addresses_for(row.address, groups, t0), row.expected) << row.address;
  }
  memory.failed("http://a/x/f.js", groups, t0);
  memory.failed("http://b/g.js", groups, t0 + 1s);
  EXPECT_EQ(memory.addresses_for("http://a/x/f.js", groups, t0 + 2s),
            (std::vector<std::string>{"http://c/y/f.js", "http://a/x/f.js", "http://b/f.js"}));
  // Once the while is over, the group's own order holds again.
  EXPECT_EQ(memory.addresses_for("http://a/x/f.js", groups, t0 + 2min).front(), "http://a/x/f.js");
}

class ExactBody final : public BodyCheck {
 public:
  explicit ExactBody(std::string expected) : expected_(std::move(expected)) {}
  void restart() override { got_.clear(); }
  void add(const char* data, std::size_t size) override { got_.append(data, size); }
  bool matches() override { return got_ == expected_; }

 private:
  std::string expected_;
  std::string got_;
};

class Ended final : public BatchObserver {
 public:
  bool finished(std::size_t, const HttpResult& result) override { return result.ok(); }
};

// A copy too large to hold in memory, cut off halfway: the next attempt asks
// only for the rest of the copy, and the file still decodes whole.
TEST(CodedTransfer, AnInterruptedCompressedCopyContinuesWhereItStopped) {
  std::mt19937 random(3);
  std::string file(8 * 1024 * 1024, '\0');
  for (char& c : file) c = static_cast<char>('a' + random() % 16);
  std::string copy(ZSTD_compressBound(file.size()), '\0');
  copy.resize(ZSTD_compress(copy.data(), copy.size(), file.data(), file.size(), 1));
  ASSERT_GT(copy.size(), 2u * 1024 * 1024);
  testing::TempDir served;
  testing::TempDir local;
  served.write("f.bin.zst", copy);
  testing::TestHttpServer server{served.path()};
  server.set_fault("f.bin.zst", Fault::reset_mid_body, 1);
  CurlHttpGet http{{}, testing::quick_retries()};
  FileTransfer transfer{server.url("f.bin"), local / "f.bin", std::make_shared<ExactBody>(file)};
  transfer.coded.push_back({server.url("f.bin.zst"), std::make_shared<ExactBody>(copy)});
  Ended ended;
  ASSERT_TRUE(http.get_files({transfer}, {}, 2, ended));
  EXPECT_EQ(local.read("f.bin"), file);
  const auto requests = server.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_FALSE(requests[1].range.empty());
  EXPECT_LT(server.body_bytes_sent(), copy.size() * 3 / 2);
  EXPECT_EQ(testing::names_in(local.path()), std::vector<std::string>{"f.bin"});
  CurlHttpGet::close_idle_connections();
}

}  // namespace
}  // namespace tarvel
