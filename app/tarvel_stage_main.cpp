// tarvel-stage: serves an operator tree on 127.0.0.1 and answers the request
// service from an accounts file, for trying a client out on one machine.
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "operator/command_line.hpp"
#include "operator/request_service.hpp"
#include "operator/sample_client.hpp"
#include "operator/stage_server.hpp"
#include "platform/posix/posix_files.hpp"
#include "platform/posix/stop_signals.hpp"
#include "tarvel_version.hpp"

namespace {

using namespace tarvel;

constexpr const char* kUsage =
    "usage: tarvel-stage [options] TREE\n"
    "       tarvel-stage --sample DIR [--version N] [options]\n"
    "       tarvel-stage --help | --version\n"
    "\n"
    "Serves the files of TREE on 127.0.0.1 (GET and HEAD, ranges included) and answers the\n"
    "request service's login and transfer documents POSTed to any path. Logs each request\n"
    "on one line. Ctrl+C stops it.\n"
    "\n"
    "  --sample DIR     first write a sample client into DIR and serve DIR/www: a new\n"
    "                   application directory starts as a copy of DIR/client\n"
    "  --version N      the sample's release (default 1): each higher one changes some files;\n"
    "                   alone, --version shows the program's version\n"
    "  --pages DIR      the sample's movie pages for windows come from DIR, laid out like\n"
    "                   web/movies, instead of pages that play the movie scripts\n"
    "  --port N         serve on this port (default: a free one)\n"
    "  --accounts FILE  the players, one name:password a line (--sample: DIR/accounts.txt)\n"
    "  --key KEY        the shared key of transfer signs (--sample: the sample's key);\n"
    "                   without one every transfer is refused\n"
    "  --slow MS        every answer waits MS milliseconds before it starts\n"
    "  --drop-every N   every N-th file answered is cut off halfway\n"
    "  --help, -h       show this\n"
    "\n"
    "tarvel-manifest check tells whether a launcher finds everything it needs in TREE.\n";

int usage(const std::string& error) {
  std::fprintf(stderr, "tarvel-stage: %s\n%s", error.c_str(), kUsage);
  return 2;
}

int fail(const std::string& error) {
  std::fprintf(stderr, "tarvel-stage: %s\n", error.c_str());
  return 1;
}

struct Setup {
  StageOptions options;
  std::string sample_dir;
  std::string pages_dir;
  long long release = 1;
  std::string accounts_file;
  std::string key;
};

// The options, or the usage error in error.
std::optional<Setup> read_setup(const CommandLine& line, std::string& error) {
  Setup setup;
  long long number = 0;
  const auto numeric = [&](const char* name, long long min, long long max, auto& out) {
    if (!line.has(name)) return true;
    if (!read_number(line.value(name), min, max, number)) {
      error = std::string(name) + " needs a whole number from " + std::to_string(min) + " to " +
              std::to_string(max);
      return false;
    }
    out = static_cast<std::remove_reference_t<decltype(out)>>(number);
    return true;
  };
  if (!numeric("--port", 1, 65535, setup.options.port) ||
      !numeric("--slow", 0, 600000, setup.options.slow_ms) ||
      !numeric("--drop-every", 1, 1000000000, setup.options.drop_every) ||
      !numeric("--version", 1, 1000, setup.release)) {
    return std::nullopt;
  }
  setup.sample_dir = line.value("--sample");
  const bool sample = line.has("--sample");
  if (sample == (line.arguments.size() == 1) || line.arguments.size() > 1) {
    error = sample ? "--sample serves DIR/www: give no TREE" : "give one TREE to serve";
    return std::nullopt;
  }
  for (const char* option : {"--version", "--pages"}) {
    if (line.has(option) && !sample) {
      error = std::string(option) + " is for --sample";
      return std::nullopt;
    }
  }
  setup.pages_dir = line.value("--pages");
  setup.options.root = sample ? setup.sample_dir + "/" + kSampleTree : line.arguments[0];
  setup.accounts_file =
      line.value("--accounts", sample ? setup.sample_dir + "/" + kSampleAccounts : "");
  setup.key = line.value("--key", sample ? kSampleKey : "");
  return setup;
}

std::optional<Accounts> read_accounts(PosixFiles& files, const std::string& path,
                                      std::string& error) {
  if (path.empty()) return Accounts{};
  const auto text = files.read(path);
  if (!text) {
    error = path + ": cannot be read";
    return std::nullopt;
  }
  auto accounts = parse_accounts(*text, error);
  if (!accounts) error = path + ": " + error;
  return accounts;
}

void print_addresses(const Setup& setup, const StageServer& server, std::size_t players) {
  std::printf("tarvel-stage: serving %s at %s\n", setup.options.root.c_str(), server.url().c_str());
  if (!setup.sample_dir.empty()) {
    std::printf("  url         %s\n", server.url("launcher/").c_str());
    std::printf("  common_url  %s\n", server.url("common/").c_str());
    std::printf("  game_url    %s\n", server.url("games/").c_str());
  }
  std::printf("  ServerURL   %s (login and transfer; accounts: %zu%s)\n",
              server.url("request").c_str(), players, setup.key.empty() ? ", no key" : "");
  if (!setup.sample_dir.empty()) {
    std::printf("  a new application directory starts as a copy of %s/%s\n",
                setup.sample_dir.c_str(), kSampleClient);
  }
  std::printf("tarvel-stage: Ctrl+C stops it\n");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::string_view(argv[1]) == "--version") {
    std::printf("tarvel-stage %s\n", kTarvelVersion);
    return 0;
  }
  // Whoever reads the log (a terminal, the demo script) sees each line at once.
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  const CommandLine line = parse_command_line(argc, argv,
                                              {"--sample", "--version", "--pages", "--port",
                                               "--accounts", "--key", "--slow", "--drop-every"},
                                              {"--help", "-h"});
  if (line.has("--help") || line.has("-h")) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (!line.error.empty()) return usage(line.error);
  std::string error;
  const auto setup = read_setup(line, error);
  if (!setup) return usage(error);
  const std::string directory = current_directory();
  if (directory.empty()) return fail("cannot read the current directory");
  PosixFiles files(directory);
  if (setup->sample_dir.empty() && files.kind(setup->options.root) != Files::Kind::directory) {
    return fail(setup->options.root + ": no such folder to serve");
  }

  StageServer server(setup->options,
                     [](const std::string& log_line) { std::printf("%s\n", log_line.c_str()); });
  StopSignals signals([&server] { server.stop(); });
  if (!server.bind()) return fail(server.error());
  // The sample names the stage's own address, so it is written once the
  // port is taken.
  if (!setup->sample_dir.empty()) {
    std::vector<std::string> problems;
    if (!write_sample_client(files, setup->sample_dir, static_cast<int>(setup->release),
                             server.url(), problems, setup->pages_dir)) {
      for (const std::string& problem : problems) std::fprintf(stderr, "  %s\n", problem.c_str());
      return fail("the sample could not be written into " + setup->sample_dir);
    }
    std::printf("tarvel-stage: sample client release %lld written into %s\n", setup->release,
                setup->sample_dir.c_str());
  }
  const auto accounts = read_accounts(files, setup->accounts_file, error);
  if (!accounts) return fail(error);
  RequestService service(*accounts, setup->key);
  print_addresses(*setup, server, accounts->size());
  server.listen(service);
  std::printf("tarvel-stage: stopped\n");
  return 0;
}
