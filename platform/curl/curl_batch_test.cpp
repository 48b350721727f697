// Retries, continued bodies and batches of the libcurl client, against the
// loopback test server and its faults.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/curl/curl_http_get.hpp"
#include "tests/support/temp_dir.hpp"
#include "tests/support/test_app.hpp"
#include "tests/support/test_http_server.hpp"

namespace tarvel {
namespace {

using Fault = testing::TestHttpServer::Fault;
using Outcome = HttpResult::Outcome;
using Names = std::vector<std::string>;
using testing::names_in;

constexpr std::size_t kBig = 1024 * 1024;
constexpr auto kDeadline = std::chrono::seconds(20);

std::string bytes(std::size_t size, char seed) {
  std::string text(size, '\0');
  for (std::size_t i = 0; i < size; ++i) text[i] = static_cast<char>(seed + i % 31);
  return text;
}

struct CurlRetry : ::testing::Test {
  CurlRetry() {
    served.write("pkg/small.swf", bytes(10000, 'a'));
    served.write("pkg/big.bin", bytes(kBig, 'b'));
  }
  ~CurlRetry() override { CurlHttpGet::close_idle_connections(); }

  HttpResult fetch(const std::string& path, CurlHttpGet& client) {
    const std::string name = path.substr(path.rfind('/') + 1);
    return client.get_file(server.url(path), {}, local / name);
  }
  HttpResult fetch(const std::string& path) { return fetch(path, http); }
  std::vector<testing::TestHttpServer::Request> requests_since(std::size_t first) const {
    const auto all = server.requests();
    return {all.begin() + static_cast<std::ptrdiff_t>(first), all.end()};
  }

  testing::TempDir served;
  testing::TempDir local;
  testing::TestHttpServer server{served.path()};
  CurlHttpGet http{{}, testing::quick_retries()};
};

TEST_F(CurlRetry, FailuresThatMayPassAreTriedAgainOthersAreNot) {
  const struct {
    Fault fault;
    int times;
    bool arrives;
    std::size_t requests;
  } cases[] = {
      {Fault::reset_mid_body, 1, true, 2},   {Fault::short_body, 1, true, 2},
      {Fault::server_error, 3, true, 4},     {Fault::server_error, -1, false, 4},
      {Fault::reset_mid_body, -1, false, 4}, {Fault::not_found, -1, false, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << static_cast<int>(c.fault) << " x" << c.times);
    const std::size_t before = server.requests().size();
    server.set_fault("pkg/small.swf", c.fault, c.times);
    EXPECT_EQ(fetch("pkg/small.swf").ok(), c.arrives);
    EXPECT_EQ(server.requests().size() - before, c.requests);
    EXPECT_EQ(names_in(local.path()), c.arrives ? Names{"small.swf"} : Names{});
    if (c.arrives) {
      EXPECT_EQ(local.read("small.swf"), served.read("pkg/small.swf"));
    }
    ::unlink((local / "small.swf").c_str());
  }
}

TEST_F(CurlRetry, ABrokenBodyIsContinuedWhereItBrokeOff) {
  server.set_fault("pkg/big.bin", Fault::short_body, 1);
  ASSERT_TRUE(fetch("pkg/big.bin").ok());
  EXPECT_EQ(local.read("big.bin"), served.read("pkg/big.bin"));
  const auto seen = server.requests();
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].range, "");
  EXPECT_EQ(seen[1].range, "bytes=" + std::to_string(kBig / 2 - 1) + "-");
  EXPECT_FALSE(seen[1].if_range.empty());
  EXPECT_EQ(server.body_bytes_sent(), kBig + 1) << "half, then the rest and the last byte held";
  EXPECT_EQ(names_in(local.path()), Names{"big.bin"});
}

// A part that outlived its run is continued by the next one, unless the file
// changed on the server meanwhile: then it is fetched whole.
TEST_F(CurlRetry, TheNextRunContinuesAPartOrStartsOverWhenTheFileChanged) {
  server.set_fault("pkg/big.bin", Fault::short_body);
  EXPECT_EQ(fetch("pkg/big.bin").outcome, Outcome::transfer);
  EXPECT_EQ(names_in(local.path()), (Names{".big.bin.tarvel-part", ".big.bin.tarvel-resume"}));

  server.set_fault("pkg/big.bin", Fault::none);
  CurlHttpGet next_run{{}, testing::quick_retries()};
  std::size_t before = server.requests().size();
  ASSERT_TRUE(fetch("pkg/big.bin", next_run).ok());
  EXPECT_EQ(local.read("big.bin"), served.read("pkg/big.bin"));
  ASSERT_EQ(requests_since(before).size(), 1u);
  EXPECT_NE(requests_since(before)[0].range, "");

  ASSERT_EQ(::unlink((local / "big.bin").c_str()), 0);
  server.set_fault("pkg/big.bin", Fault::short_body);
  EXPECT_FALSE(fetch("pkg/big.bin").ok());
  served.write("pkg/big.bin", bytes(kBig + 100, 'c'));
  server.set_fault("pkg/big.bin", Fault::none);
  before = server.requests().size();
  ASSERT_TRUE(fetch("pkg/big.bin", next_run).ok());
  EXPECT_EQ(local.read("big.bin"), served.read("pkg/big.bin")) << "no old bytes mixed in";
  ASSERT_EQ(requests_since(before).size(), 1u);
  EXPECT_NE(requests_since(before)[0].if_range, "") << "asked to continue, answered whole";
  EXPECT_EQ(names_in(local.path()), Names{"big.bin"});
}

// 16 bytes every 100 ms would take a minute for this file; far below a
// kilobyte a second, it counts as stalled after the stall window.
TEST_F(CurlRetry, ATrickleCountsAsAStall) {
  TransferPolicy once = testing::quick_retries();
  once.retries = 0;
  CurlHttpGet client({}, once);
  server.set_fault("pkg/small.swf", Fault::trickle);
  HttpGetOptions options;
  options.stall_seconds = 1;
  EXPECT_EQ(client.get_file(server.url("pkg/small.swf"), options, local / "small.swf").outcome,
            Outcome::transfer);
  EXPECT_EQ(names_in(local.path()), Names{});
}

// With the limits scaled down: a server that takes the connection and says
// nothing, or sends its headers and then nothing, fails each try at the
// first-byte limit and is tried as often as any broken transfer; the quiet
// limit ends the tries however many remain; a server that answers late,
// but within the limits, is waited for (were its try cut short, the retry's
// answer would come after the quiet limit).
TEST_F(CurlRetry, ASilentServerFailsEachTryAtTheFirstByteLimitUntilTheQuietLimit) {
  using std::chrono::milliseconds;
  const struct {
    Fault fault;
    milliseconds delay;
    milliseconds first_byte_limit;
    milliseconds quiet_limit;
    std::size_t fewest_requests;
    std::size_t most_requests;
  } cases[] = {
      {Fault::hold, milliseconds(0), milliseconds(300), milliseconds(0), 4, 4},
      {Fault::mute, milliseconds(0), milliseconds(300), milliseconds(0), 4, 4},
      // Each try takes at least the 300 ms of its first-byte limit.
      {Fault::hold, milliseconds(0), milliseconds(300), milliseconds(500), 1, 2},
      // Under ThreadSanitizer the server now and then sees the one try twice,
      // on two connections: the limits are what this case checks.
      {Fault::none, milliseconds(300), milliseconds(600), milliseconds(900), 1, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << static_cast<int>(c.fault) << " " << c.quiet_limit.count());
    testing::TestHttpServer fresh(served.path());
    fresh.set_fault("pkg/small.swf", c.fault);
    fresh.set_delay(c.delay);
    HttpGetOptions options;
    options.first_byte_limit = c.first_byte_limit;
    options.quiet_limit = c.quiet_limit;
    const HttpResult result = http.get_file(fresh.url("pkg/small.swf"), options, local / "s.swf");
    CurlHttpGet::close_idle_connections();
    EXPECT_EQ(result.ok(), c.fault == Fault::none);
    EXPECT_GE(fresh.requests().size(), c.fewest_requests);
    EXPECT_LE(fresh.requests().size(), c.most_requests);
    EXPECT_EQ(names_in(local.path()), c.fault == Fault::none ? Names{"s.swf"} : Names{});
  }
}

// Records how each file of a batch ended; stops at the first failure.
struct Ended final : BatchObserver {
  bool finished(std::size_t index, const HttpResult& result) override {
    results.emplace_back(index, result.outcome);
    return result.ok();
  }
  std::vector<std::pair<std::size_t, Outcome>> results;
};

struct CurlBatchTest : CurlRetry {
  CurlBatchTest() {
    for (int i = 0; i < kFiles; ++i) served.write(path(i), bytes(2000 + i, 'f'));
  }
  static std::string path(int i) { return "list/f" + std::to_string(i) + ".bin"; }
  std::vector<FileTransfer> files(int count = kFiles) const {
    std::vector<FileTransfer> list;
    for (int i = 0; i < count; ++i)
      list.push_back({server.url(path(i)), local / ("f" + std::to_string(i) + ".bin")});
    return list;
  }
  void hold_every_file() {
    for (int i = 0; i < kFiles; ++i) server.set_fault(path(i), Fault::hold);
  }
  std::size_t requested(int i) const {
    std::size_t count = 0;
    for (const auto& request : server.requests()) count += request.path == path(i) ? 1 : 0;
    return count;
  }

  static constexpr int kFiles = 20;
  Ended ended;
};

TEST_F(CurlBatchTest, AtMostMaxConnectionsTransfersAtOnceToOneHost) {
  for (const int limit : {1, 3, 8}) {
    SCOPED_TRACE(limit);
    testing::TestHttpServer fresh(served.path());
    for (int i = 0; i < kFiles; ++i) fresh.set_fault(path(i), Fault::hold);
    std::vector<FileTransfer> list = files();
    for (int i = 0; i < kFiles; ++i) list[static_cast<std::size_t>(i)].address = fresh.url(path(i));
    bool ok = false;
    std::thread batch([&] {
      Ended each;
      ok = http.get_files(list, {}, limit, each);
      CurlHttpGet::close_idle_connections();
    });
    EXPECT_TRUE(fresh.wait_for_holds(limit, kDeadline));
    fresh.release_holds();
    batch.join();
    EXPECT_TRUE(ok);
    EXPECT_EQ(fresh.peak_in_flight(), limit);
    EXPECT_EQ(local.read("f19.bin"), served.read(path(19)));
  }
}

TEST_F(CurlBatchTest, TheFirstFailureEndsTheBatchAndCancelsWhatRuns) {
  hold_every_file();
  server.set_fault(path(3), Fault::not_found);
  EXPECT_FALSE(http.get_files(files(), {}, 4, ended));
  EXPECT_EQ(ended.results, (std::vector<std::pair<std::size_t, Outcome>>{{3, Outcome::status}}))
      << "the held transfers were cancelled, not waited for";
  for (int i = 4; i < kFiles; ++i) EXPECT_EQ(requested(i), 0u) << i;
  EXPECT_EQ(requested(3), 1u) << "a 404 is not tried again";
  EXPECT_EQ(names_in(local.path()), Names{});
}

TEST_F(CurlBatchTest, TheStopFlagEndsRunningTransfersAtOnce) {
  hold_every_file();
  std::atomic<bool> stop{false};
  HttpGetOptions options;
  options.cancel = &stop;
  bool ok = true;
  std::thread batch([&] {
    ok = http.get_files(files(), options, 8, ended);
    CurlHttpGet::close_idle_connections();
  });
  ASSERT_TRUE(server.wait_for_holds(8, kDeadline));
  stop = true;
  // The holds stay in place until the server goes: only the flag can end the batch.
  batch.join();
  EXPECT_FALSE(ok);
  EXPECT_TRUE(ended.results.empty());
}

// Two entries for one file are fetched one after the other, in list order,
// as one connection would: the later one is what stays.
TEST_F(CurlBatchTest, EntriesForOneFileNeverOverlap) {
  std::vector<FileTransfer> list = files(6);
  list.push_back({server.url(path(7)), list[2].target});
  server.set_fault(path(2), Fault::hold);
  bool ok = false;
  std::thread batch([&] {
    ok = http.get_files(list, {}, 8, ended);
    CurlHttpGet::close_idle_connections();
  });
  ASSERT_TRUE(server.wait_for_holds(1, kDeadline));
  server.release_holds();
  batch.join();
  EXPECT_TRUE(ok);
  EXPECT_EQ(local.read("f2.bin"), served.read(path(7)));
}

// Small bodies wait in memory for their file, larger ones are written as
// they come; a broken large one is continued within the batch.
TEST_F(CurlBatchTest, EmptySmallAndLargeBodiesAllArriveWhole) {
  served.write("list/empty.bin", "");
  std::vector<FileTransfer> list = files(4);
  list.push_back({server.url("list/empty.bin"), local / "empty.bin"});
  list.push_back({server.url("pkg/big.bin"), local / "big.bin"});
  server.set_fault("pkg/big.bin", Fault::reset_mid_body, 1);
  ASSERT_TRUE(http.get_files(list, {}, 8, ended));
  EXPECT_EQ(local.read("empty.bin"), "");
  EXPECT_EQ(local.read("big.bin"), served.read("pkg/big.bin"));
  EXPECT_EQ(local.read("f3.bin"), served.read(path(3)));
  std::vector<std::string> big_ranges;
  for (const auto& request : server.requests()) {
    if (request.path == "pkg/big.bin") big_ranges.push_back(request.range);
  }
  ASSERT_EQ(big_ranges.size(), 2u);
  EXPECT_NE(big_ranges[1], "") << "the second attempt continued the first";
  EXPECT_EQ(ended.results.size(), 6u);
}

TEST_F(CurlBatchTest, LeftoversBesideTheTargetsGoOnceEveryFileArrived) {
  for (const char* name : {".old.swf.tarvel-part", ".old.swf.tarvel-resume", ".tarvel-part-Ab12Cd",
                           "keep.txt", "other/.x.swf.tarvel-part"}) {
    local.write(name, "left");
  }
  server.set_fault(path(1), Fault::not_found);
  EXPECT_FALSE(http.get_files(files(3), {}, 8, ended));
  EXPECT_TRUE(local.exists(".old.swf.tarvel-part")) << "a failed list may still need its parts";
  server.set_fault(path(1), Fault::none);
  ASSERT_TRUE(http.get_files(files(3), {}, 8, ended));
  EXPECT_EQ(names_in(local.path()), (Names{"f0.bin", "f1.bin", "f2.bin", "keep.txt", "other"}));
  EXPECT_TRUE(local.exists("other/.x.swf.tarvel-part")) << "no target there";
}

}  // namespace
}  // namespace tarvel

namespace tarvel {
namespace {

// Wants exactly the expected bytes, and counts what it was fed.
struct ExactBody final : BodyCheck {
  explicit ExactBody(std::string bytes) : expected(std::move(bytes)) {}
  void restart() override { seen.clear(); }
  void add(const char* data, std::size_t size) override {
    seen.append(data, size);
    fed += size;
  }
  bool matches() override { return seen == expected; }
  std::string expected;
  std::string seen;
  std::size_t fed = 0;
};

TEST_F(CurlBatchTest, ACheckSeesTheWholeFileEvenResumedAndAMismatchIsFetchedAgain) {
  // Cut off once and continued: the check still sees every byte, the kept
  // part read back from disk, over several of the writer's hashing runs.
  const std::string huge = bytes(9 * kBig + 3, 'h');
  served.write("pkg/huge.bin", huge);
  server.set_fault("pkg/huge.bin", Fault::short_body, 1);
  FileTransfer cut{server.url("pkg/huge.bin"), local / "huge.bin",
                   std::make_shared<ExactBody>(huge)};
  ASSERT_TRUE(http.get_files({cut}, {}, 4, ended));
  EXPECT_EQ(local.read("huge.bin"), huge);
  EXPECT_EQ(requests_since(0).size(), 2u);
  EXPECT_FALSE(requests_since(0).back().range.empty()) << "continued, not started over";
  ASSERT_EQ(::unlink((local / "huge.bin").c_str()), 0);

  // A body wrong in its last byte: asked for again, then failed, and
  // nothing put in place, small (held in memory) or large (on disk).
  for (const char* name : {"small.swf", "big.bin"}) {
    SCOPED_TRACE(name);
    const std::size_t before = server.requests().size();
    Ended each;
    std::string almost = served.read(std::string("pkg/") + name);
    almost.back() = static_cast<char>(almost.back() ^ 1);
    FileTransfer wrong{server.url(std::string("pkg/") + name),
                       local / ("wrong-" + std::string(name)), std::make_shared<ExactBody>(almost)};
    EXPECT_FALSE(http.get_files({wrong}, {}, 4, each));
    ASSERT_EQ(each.results.size(), 1u);
    EXPECT_EQ(each.results[0].second, Outcome::transfer);
    EXPECT_EQ(server.requests().size() - before, 4u) << "the first try and three retries";
    EXPECT_FALSE(local.exists("wrong-" + std::string(name)));
    EXPECT_EQ(names_in(local.path()), Names{}) << "no part left behind";
  }

  // A part kept from an earlier run that was changed on disk meanwhile: the
  // check sees it read back, and the file is fetched again whole.
  server.set_fault("pkg/big.bin", Fault::short_body);
  FileTransfer big{server.url("pkg/big.bin"), local / "again.bin",
                   std::make_shared<ExactBody>(bytes(kBig, 'b'))};
  EXPECT_FALSE(http.get_files({big}, {}, 4, ended));
  {
    std::string part = local.read(".again.bin.tarvel-part");
    ASSERT_GT(part.size(), 1000u);
    part[1000] = static_cast<char>(part[1000] ^ 1);
    local.write(".again.bin.tarvel-part", part);
  }
  server.set_fault("pkg/big.bin", Fault::none);
  const std::size_t before = server.requests().size();
  ASSERT_TRUE(http.get_files({big}, {}, 4, ended));
  EXPECT_EQ(local.read("again.bin"), bytes(kBig, 'b'));
  ASSERT_EQ(requests_since(before).size(), 2u);
  EXPECT_NE(requests_since(before)[0].range, "") << "the kept part was continued";
  EXPECT_EQ(requests_since(before)[1].range, "") << "then, refused, fetched whole";

  // A body cut short without a length looks whole to HTTP: only the check tells.
  for (const bool checked : {false, true}) {
    server.set_fault("pkg/small.swf", Fault::cut_unsized, 1);
    FileTransfer small{server.url("pkg/small.swf"), local / "small.swf"};
    if (checked) small.check = std::make_shared<ExactBody>(bytes(10000, 'a'));
    ASSERT_TRUE(http.get_files({small}, {}, 4, ended));
    EXPECT_EQ(local.read("small.swf").size(), checked ? 10000u : 5000u);
  }
}

}  // namespace
}  // namespace tarvel
