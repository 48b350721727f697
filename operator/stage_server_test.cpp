#include "operator/stage_server.hpp"

#include <gtest/gtest.h>
#include <httplib.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "core/status.hpp"
#include "tests/support/test_app.hpp"
#include "update/download.hpp"

namespace tarvel {
namespace {

struct RunningStage {
  explicit RunningStage(StageOptions options)
      : server(std::move(options), [this](auto& line) {
          std::lock_guard lock(mutex);
          log.push_back(line);
          logged.notify_all();
        }) {
    EXPECT_TRUE(server.bind()) << server.error();
    server.start(service);
  }
  // The log once it has count lines: a line is written after its answer
  // went out, so a client can be done before its line is.
  std::vector<std::string> lines(std::size_t count) {
    std::unique_lock lock(mutex);
    logged.wait_for(lock, std::chrono::seconds(10), [&] { return log.size() >= count; });
    return log;
  }

  std::mutex mutex;
  std::condition_variable logged;
  std::vector<std::string> log;
  RequestService service{{}, ""};
  StageServer server;
};

std::string bytes(std::size_t size) {
  std::string text(size, '\0');
  for (std::size_t i = 0; i < size; ++i) text[i] = static_cast<char>(i * 7 + 3);
  return text;
}

TEST(StageServer, ServesFilesRangesIndexPagesAndNothingOutsideItsTree) {
  testing::TempDir dir;
  dir.write("tree/games/a.bin", bytes(200000));
  dir.write("tree/cashier/index.html", "<html></html>");
  dir.write("tree/empty.txt", "");
  dir.write("secret.txt", "not yours");
  RunningStage stage({dir / "tree"});
  httplib::Client client("127.0.0.1", stage.server.port());

  struct Case {
    std::string path;
    httplib::Headers headers;
    int status;
    std::string body;
  };
  const Case cases[] = {
      // An absolute path, plain or encoded, stays below the tree.
      {"/" + (dir / "secret.txt"), {}, 404, "not here\n"},
      {"/%2F" + (dir / "secret.txt").substr(1), {}, 404, "not here\n"},
      {"/games/a.bin", {}, 200, bytes(200000)},
      {"/games/a.bin", {{"Range", "bytes=100000-100009"}}, 206, bytes(200000).substr(100000, 10)},
      {"/cashier/", {}, 200, "<html></html>"},
      {"/empty.txt", {}, 200, ""},
      {"/games/missing.bin", {}, 404, "not here\n"},
      {"/../secret.txt", {}, 404, "not here\n"},
      {"/games/../../secret.txt", {}, 404, "not here\n"},
  };
  for (const Case& c : cases) {
    const auto result = client.Get(c.path.c_str(), c.headers);
    ASSERT_TRUE(result) << c.path;
    EXPECT_EQ(result->status, c.status) << c.path;
    EXPECT_EQ(result->body, c.body) << c.path;
  }
  const auto head = client.Head("/games/a.bin");
  ASSERT_TRUE(head);
  EXPECT_EQ(head->get_header_value("Content-Length"), "200000");
  EXPECT_TRUE(head->body.empty());

  // Lines come in the order the answers were finished, which two server
  // threads may swap.
  const auto log = stage.lines(std::size(cases) + 1);
  ASSERT_EQ(log.size(), std::size(cases) + 1) << "one line per request";
  for (const char* line : {" GET /games/a.bin 200 200000 B", " GET /games/missing.bin 404 "}) {
    EXPECT_TRUE(std::any_of(log.begin(), log.end(), [&](const std::string& l) {
      return l.find(line) != std::string::npos;
    })) << line;
  }
}

// The launcher tries a cut file again, so a line that drops every other
// answer still delivers every file whole; one that drops every answer fails
// the download with 401 and leaves nothing cut short.
TEST(StageServer, CutsOffEveryNthFileAsTheLauncherSeesIt) {
  testing::TempDir served;
  for (const char* name : {"1.bin", "2.bin", "3.bin"}) served.write(name, bytes(50000));
  {
    RunningStage stage({served.path(), 0, 0, 2});
    testing::TestApp t;
    for (const char* name : {"1.bin", "2.bin", "3.bin"}) {
      EXPECT_TRUE(download_file(t.app, stage.server.url(name), name)) << name;
      EXPECT_EQ(t.dir.read(name), bytes(50000)) << name;
    }
    // 1.bin whole; 2.bin and 3.bin cut once each, then whole.
    const auto log = stage.lines(5);
    ASSERT_EQ(log.size(), 5u);
    EXPECT_EQ(std::count_if(log.begin(), log.end(),
                            [](const std::string& line) {
                              return line.find("cut off halfway (--drop-every 2)") !=
                                     std::string::npos;
                            }),
              2);
  }
  RunningStage every({served.path(), 0, 0, 1});
  testing::TestApp t;
  EXPECT_FALSE(download_file(t.app, every.server.url("1.bin"), "1.bin"));
  EXPECT_FALSE(t.dir.exists("1.bin"));
  EXPECT_EQ(t.app.settings().take_status().code, kStatusDownloadFailed);
}

// A page in a browser can open many connections to a loopback port; ones
// that never finish their request hold no thread for long.
TEST(StageServer, AnswersWhileManyRequestsStayHalfSent) {
  testing::TempDir served;
  served.write("x.txt", "x");
  RunningStage stage({served.path()});
  std::vector<int> half_sent;
  for (int i = 0; i < 200; ++i) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(stage.server.port()));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    const std::string part = "GET /x.txt HTTP/1.1\r\nHost: 127.0.0.1\r\n";
    ASSERT_EQ(::send(fd, part.data(), part.size(), MSG_NOSIGNAL), static_cast<ssize_t>(part.size()));
    half_sent.push_back(fd);
  }
  httplib::Client client("127.0.0.1", stage.server.port());
  // Far longer than the stage needs, far shorter than a thread per request held for good.
  client.set_read_timeout(std::chrono::seconds(30));
  const auto result = client.Get("/x.txt");
  for (const int fd : half_sent) ::close(fd);
  ASSERT_TRUE(result);
  EXPECT_EQ(result->body, "x");
}

TEST(StageServer, TwoStagesRunAtOnceAndAGivenPortThatIsTakenIsRefused) {
  testing::TempDir served;
  served.write("x.txt", "x");
  RunningStage first({served.path()});
  RunningStage second({served.path()});
  EXPECT_NE(first.server.port(), second.server.port());
  for (RunningStage* stage : {&first, &second}) {
    httplib::Client client("127.0.0.1", stage->server.port());
    const auto result = client.Get("/x.txt");
    ASSERT_TRUE(result);
    EXPECT_EQ(result->body, "x");
  }
  StageServer third({served.path(), first.server.port()}, [](auto&) {});
  EXPECT_FALSE(third.bind());
  EXPECT_EQ(third.error(),
            "port " + std::to_string(first.server.port()) + " on 127.0.0.1 is taken");
}

}  // namespace
}  // namespace tarvel
