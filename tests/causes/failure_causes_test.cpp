// What a player or an operator sees when something is wrong: the built
// launcher, run against a broken client, server or disk, says on standard
// error what went wrong and where, writes the same into its support log, and
// still gives its movies exactly the codes they always got.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include "tests/support/launcher_process.hpp"
#include "tests/support/request_service_double.hpp"
#include "tests/support/temp_dir.hpp"
#include "tests/support/test_http_server.hpp"
#include "tests/support/whole_road.hpp"

namespace tarvel {
namespace {

constexpr int kRunLimitSeconds = 40;
constexpr const char* kPassword = "s3cretPass";

// Answers every connection with a line that is not HTTP, then closes it.
class GarbageServer {
 public:
  GarbageServer() {
    socket_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof local;
    if (::bind(socket_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
        ::listen(socket_, 16) != 0 ||
        ::getsockname(socket_, reinterpret_cast<sockaddr*>(&local), &length) != 0) {
      ADD_FAILURE() << "no loopback port";
    }
    port_ = ntohs(local.sin_port);
    thread_ = std::thread([this] { serve(); });
  }
  ~GarbageServer() {
    stop_ = true;
    thread_.join();
    ::close(socket_);
  }
  [[nodiscard]] std::string url() const {
    return "http://127.0.0.1:" + std::to_string(port_) + "/";
  }

 private:
  void serve() {
    while (!stop_) {
      pollfd wait{socket_, POLLIN, 0};
      if (::poll(&wait, 1, 50) <= 0) continue;
      const int client = ::accept4(socket_, nullptr, nullptr, SOCK_CLOEXEC);
      if (client < 0) continue;
      constexpr std::string_view kGarbage = "SSH-2.0-not-a-web-server\r\n\r\n";
      (void)!::write(client, kGarbage.data(), kGarbage.size());
      ::close(client);
    }
  }

  int socket_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// How the launcher is started: as it is, or in a namespace of its own where
// the application directory is read-only or a small disk, or where there is
// no network at all (the real launcher, which looks its public host up).
enum class Run { plain, read_only, full_disk, offline };

// A client that logs in and reaches the installation screen, until a case
// breaks a piece of it.
struct Client {
  Client() {
    service.answer({200, testing::login_answer("0", testing::kTicketedRest), {}});
    site.write("client/setup.xml", "url=x\nversion=$version-1.1\n");
    site.write("client/update_login_install.xml", "$version-1.0\nlogin/login.swf,app-popup\\\n");
    site.write("client/login/login.swf", std::string("prefix lang= -> call validate player ") +
                                             kPassword + " en\nprefix Err= -> command exit\n");
    set_url(server.url("client/"));
    set_server_url(service.address("/request"));
    app.write("app-popup/abb_language.xml",
              "<lang_menu>\n<menu name=\"en\" lang=\"language/en\">English</menu>\n</lang_menu>\n");
    app.write("app-popup/checkUpdate.swf", "prefix Err= -> command exit\n");
    app.write("app-popup/errorMsg.swf", "prefix Err= -> command ok\n");
    app.write("app-popup/transfer.swf", "prefix lang= -> command exit\n");
  }
  void set_url(const std::string& url) {
    app.write("setup.xml", "url=" + url + "\nexe_name=tarvel\nversion=$version-1.1\n");
  }
  void set_server_url(const std::string& address) {
    app.write("Config.xml", "<?xml version=\"1.0\"?>\n<Config>\n  <ServerURL>" + address +
                                "</ServerURL>\n  <Languages>English</Languages>\n</Config>\n");
  }

  testing::TempDir site;
  testing::TestHttpServer server{site.path()};
  testing::RequestServiceDouble service;
  testing::TempDir app;
  testing::TempDir scratch;
  testing::RefusingAddress refusing;
  GarbageServer garbage;
};

std::string refusing_base(const Client& c) {
  const std::string address = c.refusing.address();
  return address.substr(0, address.rfind('/') + 1);
}

struct Case {
  const char* name;
  friend void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }
  std::function<void(Client&)> breaks;
  Run run;
  // The screen and the code its movie receives, as always.
  const char* movie;
  // What standard error and the log say (with where the client lies).
  std::function<std::string(const Client&, const std::string& app_dir)> said;
};

const Case kCases[] = {
    {"server_down", [](Client& c) { c.set_url(refusing_base(c) + "client/"); }, Run::plain,
     "Update#1 received \"Err=401\"",
     [](const Client& c, const std::string&) {
       return refusing_base(c) + "client/setup.xml: connection refused";
     }},
    {"manifest_missing",
     [](Client& c) { std::filesystem::remove(c.site / "client/update_login_install.xml"); },
     Run::plain, "Update#1 received \"Err=401\"",
     [](const Client& c, const std::string&) {
       return c.server.url("client/update_login_install.xml") + ": 404 Not Found";
     }},
    {"garbage_answer", [](Client& c) { c.set_url(c.garbage.url() + "client/"); }, Run::plain,
     "Update#1 received \"Err=401\"",
     [](const Client& c, const std::string&) {
       return c.garbage.url() + "client/setup.xml: the answer is not HTTP";
     }},
    {"read_only_folder", [](Client&) {}, Run::read_only, "Update#1 received \"Err=401\"",
     [](const Client&, const std::string& app_dir) {
       return app_dir + "/glo_stp.xml: read-only file system";
     }},
    {"full_disk",
     [](Client& c) {
       c.site.write("client/update_login_install.xml",
                    "$version-1.0\nlogin/login.swf,app-popup\\\nlogin/big.bin,app-popup\\\n");
       c.site.write("client/login/big.bin", std::string(512 * 1024, 'b'));
     },
     Run::full_disk, "Update#1 received \"Err=401\"",
     [](const Client&, const std::string& app_dir) {
       return app_dir + "/app-popup/big.bin: no space left on device";
     }},
    {"setup_missing", [](Client& c) { std::filesystem::remove(c.app / "setup.xml"); }, Run::plain,
     "Update#1 received \"Err=401\"",
     [](const Client&, const std::string&) {
       return "setup.xml cannot be read: the launcher has no download server to ask";
     }},
    {"setup_garbage", [](Client& c) { c.app.write("setup.xml", "\x01\x02 not settings\n"); },
     Run::plain, "Update#1 received \"Err=401\"",
     [](const Client&, const std::string&) {
       return "setup.xml has no url= line: the launcher has no download server to ask";
     }},
    {"config_not_xml",
     [](Client& c) { c.app.write("Config.xml", "<Config>\n<ServerURL>x</ServerURL>\n<Languages>"); },
     Run::plain, "CCorvaneDlg#2 received \"Err=404\"",
     [](const Client&, const std::string&) { return "Config.xml is not XML: line 3"; }},
    {"service_down", [](Client& c) { c.set_server_url(c.refusing.address()); }, Run::plain,
     "CCorvaneDlg#2 received \"Err=404\"",
     [](const Client& c, const std::string&) {
       return c.refusing.address() + ": connection refused";
     }},
    {"service_answers_garbage",
     [](Client& c) { c.service.answer({200, "<html>maintenance</html>", {}}); }, Run::plain,
     "CCorvaneDlg#2 received \"Err=403\"",
     [](const Client& c, const std::string&) {
       return c.service.address("/request") + ": the answer is not the request service's XML";
     }},
    {"offline", [](Client&) {}, Run::offline, "CError#1 received \"Err=402\"",
     [](const Client&, const std::string&) {
       return std::string(TARVEL_PUBLIC_HOST) +
              ": name does not resolve, so the launcher counts itself offline";
     }},
};

bool namespaces_work() {
  static const bool work = std::system("unshare -rm true >/dev/null 2>&1") == 0;
  return work;
}

// The launcher's command line for the way it is run; the application
// directory it then works in.
std::vector<std::string> command_for(Run run, Client& c, std::string& app_dir) {
  const std::string launcher = TARVEL_LOOPBACK_PROGRAM;
  app_dir = c.app.path();
  switch (run) {
    case Run::plain:
      return {launcher};
    case Run::read_only:
      return {"unshare", "-rm", "sh", "-c",
              "mount --bind \"$PWD\" \"$PWD\" && mount -o remount,bind,ro \"$PWD\" && "
              "cd \"$PWD\" && exec \"$0\"",
              launcher};
    case Run::full_disk:
      app_dir = c.scratch / "disk";
      std::filesystem::create_directories(app_dir);
      return {"unshare", "-rm", "sh", "-c",
              "mount -t tmpfs -o size=256k tmpfs \"$1\" && cp -a . \"$1\"/ && cd \"$1\" && "
              "exec \"$0\"",
              launcher, app_dir};
    case Run::offline:
      return {"unshare", "-rn", std::string(TARVEL_PROGRAM_DIR) + "/tarvel"};
  }
  return {};
}

std::string log_text(const testing::TempDir& scratch) {
  std::string text;
  const std::string folder = scratch / "state/tarvel";
  if (!std::filesystem::exists(folder)) return text;
  for (const auto& file : std::filesystem::directory_iterator(folder)) {
    std::ifstream in(file.path());
    text += std::string(std::istreambuf_iterator<char>(in), {});
  }
  return text;
}

class BrokenClient : public ::testing::TestWithParam<Case> {};

TEST_P(BrokenClient, SaysWhatWentWrongOnceWhileTheMovieGetsItsUsualCode) {
  const Case& c = GetParam();
  if (c.run != Run::plain && !namespaces_work()) GTEST_SKIP() << "no user namespaces here";
  Client client;
  c.breaks(client);
  std::string app_dir;
  std::vector<std::string> command = command_for(c.run, client, app_dir);
  const std::string program = command.front();
  command.erase(command.begin());
  std::filesystem::create_directories(client.scratch / "run");
  testing::LauncherProcess launcher(
      program, client.app.path(),
      {"XDG_RUNTIME_DIR=" + (client.scratch / "run"), "XDG_STATE_HOME=" + (client.scratch / "state")},
      kRunLimitSeconds, command);
  const int status = launcher.wait_exit();
  const std::string transcript = launcher.transcript();
  const std::string errors = launcher.errors();
  const std::string log = log_text(client.scratch);
  const std::string said = c.said(client, app_dir);

  EXPECT_EQ(status, 0) << errors;
  EXPECT_NE(transcript.find(c.movie), std::string::npos) << transcript;
  const auto first = errors.find(said);
  EXPECT_NE(first, std::string::npos) << said << "\nnot in:\n" << errors;
  EXPECT_EQ(errors.find(said, first + 1), std::string::npos) << "said twice:\n" << errors;
  EXPECT_NE(log.find("error: " + said), std::string::npos) << said << "\nnot in:\n" << log;
  for (const std::string& text : {errors, log}) {
    EXPECT_EQ(text.find(kPassword), std::string::npos) << text;
    EXPECT_EQ(text.find("A1B2"), std::string::npos) << "the ticket: " << text;
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, BrokenClient, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

// A run where nothing goes wrong says nothing on standard error; its log
// tells the whole road, to the cashier and its ticket, without the
// password or the ticket.
TEST(SupportLog, TheWholeRoadIsToldWithoutThePasswordOrTheTicket) {
  testing::WholeRoad road;
  std::filesystem::create_directories(road.scratch / "run");
  testing::LauncherProcess launcher(
      TARVEL_LOOPBACK_PROGRAM, road.app.path(),
      {"XDG_RUNTIME_DIR=" + (road.scratch / "run"), "XDG_STATE_HOME=" + (road.scratch / "state")},
      kRunLimitSeconds);
  EXPECT_EQ(launcher.wait_exit(), 0);
  EXPECT_EQ(launcher.errors(), "");
  EXPECT_NE(launcher.transcript().find("ticket=A1B2"), std::string::npos);
  const std::string log = log_text(road.scratch);
  EXPECT_TRUE(testing::in_order(
      log, {"tarvel-loopback 1.0.0 started, headless", "application directory " + road.app.path(),
            "screen Update opened", "POST " + road.service.address() + ": 200 OK",
            "login of player accepted", "screen TransferringForm opened", "screen IndexForm opened",
            "screen IndexForm closed", "ended"}));
  EXPECT_EQ(log.find("secret"), std::string::npos) << log;
  EXPECT_EQ(log.find("A1B2"), std::string::npos) << log;
}

}  // namespace
}  // namespace tarvel
