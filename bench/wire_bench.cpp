// Bytes on the wire for a generated web game: a first install and the next
// release's update through compressed copies and patches, against the
// files' own sizes and against the best each file compresses to alone
// (the zstd tool at -19 --long); the time a compressed install takes
// against an uncompressed one from nginx; the extra time of a first
// install whose first address refuses every connection.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "operator/package_release.hpp"
#include "platform/posix/posix_files.hpp"
#include "tests/support/nginx.hpp"
#include "tests/support/test_app.hpp"
#include "tests/support/test_http_server.hpp"
#include "update/game_package.hpp"

namespace tarvel {
namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

// The corpus: what an HTML5 casino game ships. One engine bundle, game
// scripts, and data (JSON, XML, text) that compress well; images and
// sounds, already compressed by their formats, that do not. About half the
// bytes each way.
struct Kind {
  const char* folder;
  const char* suffix;
  int count;
  std::size_t smallest;
  std::size_t largest;
  bool text;
};
constexpr Kind kCorpus[] = {
    {"engine", ".js", 1, 2'500'000, 2'500'000, true},
    {"scripts", ".js", 40, 10'000, 120'000, true},
    {"data", ".json", 80, 1'000, 40'000, true},
    {"images", ".png", 100, 4'000, 60'000, false},
    {"sounds", ".ogg", 20, 40'000, 200'000, false},
};

// Code-like text: words from a vocabulary, numbers and punctuation, so that
// it compresses as real scripts do (several times, not a hundred).
std::string text_of(std::size_t size, std::mt19937& random) {
  static const std::vector<std::string> words = [] {
    std::vector<std::string> list;
    std::mt19937 r(1);
    for (int i = 0; i < 400; ++i) {
      std::string word;
      const int length = 3 + static_cast<int>(r() % 9);
      for (int j = 0; j < length; ++j) word += static_cast<char>('a' + r() % 26);
      list.push_back(word);
    }
    return list;
  }();
  static const char* const kJoin[] = {"(", ").", " = ", ";\n", ", ", " + ", " { ", " }\n", "."};
  std::string text;
  // Few words are most of a script (its own names, the engine's calls).
  const auto pick = [&] { return std::min(random() % words.size(), random() % words.size()) / 2; };
  while (text.size() < size) {
    text += words[pick()];
    text += kJoin[random() % std::size(kJoin)];
    if (random() % 8 == 0) text += std::to_string(random() % 100);
  }
  text.resize(size);
  return text;
}

// Game data as a web game ships it: JSON records (paytables, reel strips,
// translations) whose keys repeat and whose values are small numbers and
// names, which compresses far better than code.
std::string json_of(std::size_t size, std::mt19937& random) {
  static const char* const kNames[] = {"cherry", "lemon", "bell", "seven", "bar", "wild",
                                       "scatter", "bonus", "plum", "melon", "star", "crown"};
  std::string text = "{\"version\":1,\"records\":[";
  for (int id = 0; text.size() < size; ++id) {
    text += "{\"id\":" + std::to_string(id) + ",\"symbol\":\"" +
            kNames[random() % std::size(kNames)] + "\",\"weight\":" +
            std::to_string(random() % 60) + ",\"pays\":[0," + std::to_string(random() % 10) +
            "," + std::to_string(random() % 50) + "," + std::to_string(random() % 500) +
            "],\"reel\":" + std::to_string(random() % 5) + "},";
  }
  text.resize(size);
  return text;
}

std::string noise(std::size_t size, std::mt19937& random) {
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(random());
  return bytes;
}

struct Corpus {
  std::vector<std::string> names;  // relative to the package folder
  std::uint64_t bytes = 0;
};

Corpus write_first_release(const std::string& dir) {
  std::mt19937 random(26);
  Corpus corpus;
  PosixFiles files(dir);
  for (const Kind& kind : kCorpus) {
    for (int i = 0; i < kind.count; ++i) {
      const std::size_t size = kind.smallest + random() % (kind.largest - kind.smallest + 1);
      const std::string name = std::string(kind.folder) + "/f" + std::to_string(i) + kind.suffix;
      const std::string bytes = !kind.text                        ? noise(size, random)
                                : std::string_view(kind.suffix) == ".json" ? json_of(size, random)
                                                                           : text_of(size, random);
      fs::create_directories(fs::path(dir) / kind.folder);
      (void)files.write(dir + "/" + name, bytes);
      corpus.names.push_back(name);
      corpus.bytes += bytes.size();
    }
  }
  return corpus;
}

// The next release: one file in ten changed in a few places, three added.
// Returns the sizes of what changed or was added.
std::uint64_t write_next_release(const std::string& dir, const Corpus& corpus) {
  std::mt19937 random(27);
  PosixFiles files(dir);
  std::uint64_t changed = 0;
  for (std::size_t i = 0; i < corpus.names.size(); i += 10) {
    std::string bytes = *files.read(dir + "/" + corpus.names[i]);
    for (int edit = 0; edit < 3; ++edit) {
      const std::size_t at = random() % bytes.size();
      bytes.replace(at, std::min<std::size_t>(40, bytes.size() - at), text_of(40, random));
    }
    (void)files.write(dir + "/" + corpus.names[i], bytes);
    changed += bytes.size();
  }
  const std::pair<const char*, std::string> added[] = {
      {"data/new0.json", json_of(20'000, random)},
      {"data/new1.json", json_of(8'000, random)},
      {"images/new2.png", noise(30'000, random)}};
  for (const auto& [name, bytes] : added) {
    (void)files.write(dir + "/" + name, bytes);
    changed += bytes.size();
  }
  return changed;
}

bool publish(const std::string& site, int release) {
  PosixFiles files(site);
  const ReleaseResult result = publish_package(
      files, {.group = "common", .package = "slot", .version = "1." + std::to_string(release),
              .mandatory = "", .source = "GAMES/slot/", .target = "games\\slot\\",
              .package_dir = site + "/games/slot", .out_dir = site + "/games"});
  if (!result.ok()) std::fprintf(stderr, "wire_bench: %s\n", result.problems.front().c_str());
  return result.ok();
}

// The same release without compressed copies or patches: the sums' lines
// that announce them go.
void strip_coded(const std::string& site) {
  for (const char* name : {"/games/common_slot_install.xml.sums", "/games/common_slot_update.xml.sums"}) {
    PosixFiles files(site);
    const std::string text = *files.read(site + name);
    std::string kept;
    std::size_t start = 0;
    while (start < text.size()) {
      const std::size_t end = text.find('\n', start);
      const std::string line = text.substr(start, end - start + 1);
      if (!line.starts_with("#zst ") && !line.starts_with("#patch ")) kept += line;
      start = end == std::string::npos ? text.size() : end + 1;
    }
    (void)files.write(site + name, kept);
  }
}

// Installs the game into a fresh folder (or the one given); ms, or -1.
double install(testing::TestApp& t, const std::string& url, const std::string& mirrors = "") {
  t.app.settings().set_game_url(url);
  t.app.settings().set_game_url_mirrors(mirrors);
  const auto start = Clock::now();
  const bool ok = install_game_package(t.app, "slot", "common", kSourceGameUrl);
  const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  return ok ? ms : -1;
}

std::uint64_t zstd_tool_bytes(const std::string& dir, const Corpus& corpus) {
  std::uint64_t total = 0;
  for (const std::string& name : corpus.names) {
    const std::string command = "zstd -q -19 --long -c '" + dir + "/" + name + "' | wc -c";
    FILE* pipe = ::popen(command.c_str(), "r");
    unsigned long long bytes = 0;
    if (pipe == nullptr || std::fscanf(pipe, "%llu", &bytes) != 1) bytes = 0;
    if (pipe != nullptr) ::pclose(pipe);
    total += bytes;
  }
  return total;
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace
}  // namespace tarvel

int main() {
  using namespace tarvel;
  testing::TempDir site;
  const std::string package = site.path() + "/games/slot";
  const Corpus corpus = write_first_release(package);
  if (!publish(site.path(), 1)) return 1;
  const std::uint64_t limit = zstd_tool_bytes(package, corpus);

  testing::TestHttpServer server(site.path());
  testing::TestApp player;
  if (install(player, server.url("games/")) < 0) return 1;
  const std::uint64_t first = server.body_bytes_sent();

  const std::uint64_t changed = write_next_release(package, corpus);
  if (!publish(site.path(), 2)) return 1;
  if (install(player, server.url("games/")) < 0) return 1;
  const std::uint64_t update = server.body_bytes_sent() - first;

  // Compressed against whole files, from nginx, fresh folders each round.
  testing::TempDir plain_site;
  fs::copy(site.path(), plain_site.path(), fs::copy_options::recursive | fs::copy_options::overwrite_existing);
  strip_coded(plain_site.path());
  testing::Nginx coded_nginx(site.path());
  testing::Nginx plain_nginx(plain_site.path());
  if (!coded_nginx.running() || !plain_nginx.running()) return 1;
  std::vector<double> coded_ms, plain_ms, refused_ms;
  // A port that refuses: taken from a server that has ended.
  const std::string refusing = [] {
    testing::TestHttpServer gone(".");
    return gone.url("games/");
  }();
  for (int round = 0; round < 5; ++round) {
    testing::TestApp a, b, c;
    coded_ms.push_back(install(a, coded_nginx.url("games/")));
    plain_ms.push_back(install(b, plain_nginx.url("games/")));
    refused_ms.push_back(install(c, refusing, coded_nginx.url("games/")));
  }
  std::printf("corpus: %zu files, %llu bytes; zstd -19 --long each: %llu bytes\n",
              corpus.names.size(), static_cast<unsigned long long>(corpus.bytes),
              static_cast<unsigned long long>(limit));
  std::printf("first install: %llu bytes on the wire; update: %llu bytes for %llu changed\n",
              static_cast<unsigned long long>(first), static_cast<unsigned long long>(update),
              static_cast<unsigned long long>(changed));
  std::printf("install from nginx: compressed %.1f ms, whole files %.1f ms; refused first: %.1f ms\n",
              median(coded_ms), median(plain_ms), median(refused_ms));
  std::printf("ratio wire_full=%.3f wire_update=%.3f wire_limit=%.3f coded_time=%.2f mirror_ms=%.0f\n",
              static_cast<double>(first) / static_cast<double>(corpus.bytes),
              static_cast<double>(update) / static_cast<double>(changed),
              static_cast<double>(first) / static_cast<double>(limit),
              median(coded_ms) / median(plain_ms), median(refused_ms) - median(coded_ms));
  return 0;
}
