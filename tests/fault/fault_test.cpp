// A package install meets the faults of a player's machine: the process killed
// at any moment, the disk full. Whatever happens, no target file is ever left
// truncated, the package never reads as installed while files are missing, and
// the next run brings the tree to the whole package. An update leaves the
// package wholly at the old release or wholly at the new one, never a mix.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <fcntl.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "core/settings_readers.hpp"
#include "operator/package_release.hpp"
#include "platform/posix/posix_files.hpp"
#include "tests/support/temp_dir.hpp"
#include "tests/support/test_http_server.hpp"

extern char** environ;

namespace tarvel {
namespace {

using namespace std::chrono_literals;

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void write_file(const std::string& path, const std::string& contents) {
  std::ofstream(path, std::ios::binary) << contents;
}

struct PackageFile {
  std::string name;
  std::string contents;
};

// 24 small files and 4 of a quarter to three quarters of a MiB, so kills land
// between files, in the middle of a body and around the manifest's rename.
std::vector<PackageFile> package_files() {
  std::vector<PackageFile> files;
  std::mt19937 bytes(7);
  for (int i = 0; i < 28; ++i) {
    const std::size_t size = i % 7 == 6 ? (std::size_t{256} << 10) * (1 + i % 3) : 1000 + 300 * i;
    std::string contents(size, '\0');
    for (char& c : contents) c = static_cast<char>(bytes());
    files.push_back({"d" + std::to_string(i % 4) + "/f" + std::to_string(i) + ".bin", contents});
  }
  return files;
}

struct Site {
  Site() {
    std::string manifest = "$version-1.0\n";
    for (const PackageFile& file : files) {
      site.write("common/" + file.name, file.contents);
      const std::string folder = file.name.substr(0, file.name.find('/'));
      manifest += "COMMON/" + file.name + ",pkg\\" + folder + "\\\n";
    }
    site.write("common/common_install.xml", manifest);
    // A kill after the last step leaves the package installed: the next run
    // then asks for the update history.
    site.write("common/common_update.xml", "$version-1.0\n");
  }
  std::string setup() const {
    return "url=" + server.url("launcher/") + "\ncommon_url=" + server.url("common/") +
           "\ngame_url=" + server.url("games/") +
           "\ncommon_install=common_install.xml\ncommon_update=common_update.xml\n";
  }
  std::size_t requests_per_install() const { return files.size() + 1; }

  std::vector<PackageFile> files = package_files();
  testing::TempDir site;
  testing::TestHttpServer server{site.path()};
};

// The installer as a process of its own, so it can be killed.
class Installer {
 public:
  Installer(const std::string& app_dir, const std::string& scratch,
            const std::vector<std::string>& extra = {}) {
    std::vector<std::string> args{TARVEL_INSTALL_PACKAGE, app_dir};
    args.insert(args.end(), extra.begin(), extra.end());
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    // Its own temporary files go to the test's folder, killed or not.
    std::vector<std::string> env{"TMPDIR=" + scratch};
    for (char** e = environ; *e != nullptr; ++e) {
      if (std::string(*e).rfind("TMPDIR=", 0) != 0) env.emplace_back(*e);
    }
    std::vector<char*> envp;
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    output_ = scratch + "/installer.out";
    errors_ = scratch + "/installer.err";
    posix_spawn_file_actions_addopen(&actions, 1, output_.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_addopen(&actions, 2, errors_.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    spawned_ = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data()) == 0;
    posix_spawn_file_actions_destroy(&actions);
  }
  ~Installer() {
    if (spawned_ && !status_) kill_now();
  }

  [[nodiscard]] bool spawned() const { return spawned_; }
  void kill_now() {
    if (!status_) ::kill(pid_, SIGKILL);
    (void)wait();
  }
  // The exit status, or -1 when the process was killed.
  int wait() {
    while (!status_) reap(0);
    return *status_;
  }
  // Whether it has ended, without waiting.
  bool ended() {
    if (!status_) reap(WNOHANG);
    return status_.has_value();
  }
  [[nodiscard]] std::string output() const { return read_file(output_); }
  [[nodiscard]] std::string errors() const { return read_file(errors_); }

 private:
  void reap(int options) {
    int status = 0;
    const pid_t reaped = ::waitpid(pid_, &status, options);
    if (reaped == pid_) status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (reaped < 0 && errno != EINTR) status_ = -1;
  }

  pid_t pid_ = -1;
  bool spawned_ = false;
  std::optional<int> status_;
  std::string output_;
  std::string errors_;
};

// Every package file that exists is whole: a kill may leave a file missing,
// never cut short.
void expect_no_truncated_target(const Site& site, const std::string& app_dir, int round) {
  for (const PackageFile& file : site.files) {
    const std::string local = app_dir + "/pkg/" + file.name;
    if (!std::filesystem::exists(local)) continue;
    EXPECT_EQ(read_file(local), file.contents)
        << "round " << round << ": " << file.name << " is not the whole file";
  }
}

bool tree_is_whole(const Site& site, const std::string& app_dir) {
  for (const PackageFile& file : site.files) {
    if (read_file(app_dir + "/pkg/" + file.name) != file.contents) return false;
  }
  return read_file(app_dir + "/common_install.xml") ==
         read_file(site.site / "common/common_install.xml");
}

// Names that interrupted transfers leave, anywhere under the folder.
std::vector<std::string> leftovers(const std::string& folder) {
  std::vector<std::string> found;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    if (name.find(".tarvel-") != std::string::npos) found.push_back(entry.path().string());
  }
  return found;
}

std::uintmax_t size_of(const std::string& path) {
  std::error_code error;
  const auto size = std::filesystem::file_size(path, error);
  return error ? 0 : size;
}

unsigned seed() {
  const char* given = std::getenv("TARVEL_FAULT_SEED");
  return given != nullptr ? static_cast<unsigned>(std::strtoul(given, nullptr, 10))
                          : std::random_device{}();
}

TEST(FaultInjection, InstallsKilledAtRandomPointsConvergeOnTheNextRun) {
  constexpr int kRounds = 24;
  Site site;
  const unsigned used_seed = seed();
  std::mt19937 random(used_seed);
  std::uniform_int_distribution<std::size_t> kill_at(1, site.requests_per_install());
  int converged = 0;
  for (int round = 0; round < kRounds; ++round) {
    testing::TempDir scratch;
    const std::string app_dir = scratch / "app";
    std::filesystem::create_directory(app_dir);
    write_file(app_dir + "/setup.xml", site.setup());
    const std::size_t at = kill_at(random);
    const std::size_t seen = site.server.requests().size();
    {
      Installer installer(app_dir, scratch.path());
      ASSERT_TRUE(installer.spawned());
      // Killed once the at-th request has reached the server: with its answer
      // in flight, or (for a small file) just after it arrived.
      ASSERT_TRUE(site.server.wait_for_requests(seen + at, 60s)) << "round " << round;
      installer.kill_now();
    }
    expect_no_truncated_target(site, app_dir, round);
    if (!tree_is_whole(site, app_dir)) {
      EXPECT_FALSE(std::filesystem::exists(app_dir + "/common_install.xml"))
          << "round " << round << ": the package reads as installed with files missing";
    }
    Installer rerun(app_dir, scratch.path());
    ASSERT_TRUE(rerun.spawned());
    EXPECT_EQ(rerun.wait(), 0) << "round " << round << ": " << rerun.output();
    EXPECT_EQ(leftovers(app_dir), std::vector<std::string>{}) << "round " << round;
    if (tree_is_whole(site, app_dir)) ++converged;
  }
  EXPECT_EQ(converged, kRounds) << "seed " << used_seed;
  std::printf("kill -9 runs: %d, converged: %d (seed %u)\n", kRounds, converged, used_seed);
}

// Killed while a large file is half there: the next run asks only for the
// rest of it, and removes every other part, an older launcher's included.
TEST(FaultInjection, TheNextRunContinuesALargeFileAKillCutShort) {
  Site site;
  const std::string large = "common/d1/f13.bin";  // 512 KiB
  site.server.set_fault(large, testing::TestHttpServer::Fault::stall);
  testing::TempDir scratch;
  const std::string app_dir = scratch / "app";
  std::filesystem::create_directories(app_dir + "/pkg/d0");
  write_file(app_dir + "/setup.xml", site.setup());
  write_file(app_dir + "/pkg/d0/.tarvel-part-Ab12Cd", "what a crash of an older launcher left");
  const std::string part = app_dir + "/pkg/d1/.f13.bin.tarvel-part";
  {
    Installer installer(app_dir, scratch.path());
    ASSERT_TRUE(installer.spawned());
    ASSERT_TRUE(site.server.wait_for_stall(60s));
    // The half that was sent is on disk, with the note that lets it be continued.
    const auto until = std::chrono::steady_clock::now() + 60s;
    while (!(size_of(part) >= (256u << 10) &&
             std::filesystem::exists(app_dir + "/pkg/d1/.f13.bin.tarvel-resume")) &&
           std::chrono::steady_clock::now() < until) {
      std::this_thread::sleep_for(1ms);
    }
    installer.kill_now();
  }
  ASSERT_GE(size_of(part), 256u << 10);
  EXPECT_FALSE(std::filesystem::exists(app_dir + "/pkg/d1/f13.bin"));

  site.server.set_fault(large, testing::TestHttpServer::Fault::none);
  site.server.release_stalls();
  const std::size_t seen = site.server.requests().size();
  Installer rerun(app_dir, scratch.path());
  ASSERT_TRUE(rerun.spawned());
  EXPECT_EQ(rerun.wait(), 0) << rerun.output();
  EXPECT_TRUE(tree_is_whole(site, app_dir));
  EXPECT_EQ(leftovers(app_dir), std::vector<std::string>{});
  const auto requests = site.server.requests();
  std::vector<std::string> ranges;
  for (std::size_t i = seen; i < requests.size(); ++i) {
    if (requests[i].path == large) ranges.push_back(requests[i].range);
  }
  ASSERT_EQ(ranges.size(), 1u);
  EXPECT_EQ(ranges[0].rfind("bytes=", 0), 0u) << "the part on disk was continued";
}

// A disk that fills up during a large file: the install fails with 401, the
// file being written is not left cut short, and the package is not recorded.
// During an update, the installed file stays as it was and the package keeps
// its version. The run after space was made converges.
TEST(FaultInjection, AFullDiskFailsWith401AndLeavesEveryFileWholeAsItWas) {
  Site site;
  testing::TempDir scratch;
  const std::string app_dir = scratch / "app";
  std::filesystem::create_directory(app_dir);
  write_file(app_dir + "/setup.xml", site.setup());
  Installer capped(app_dir, scratch.path(), {std::to_string(128 * 1024)});
  ASSERT_TRUE(capped.spawned());
  EXPECT_EQ(capped.wait(), 1);
  EXPECT_EQ(capped.output(), "status 401 Err=401\n");
  expect_no_truncated_target(site, app_dir, 0);
  EXPECT_FALSE(std::filesystem::exists(app_dir + "/pkg/d2/f6.bin")) << "the first large file";
  EXPECT_FALSE(std::filesystem::exists(app_dir + "/common_install.xml"));

  Installer rerun(app_dir, scratch.path());
  ASSERT_TRUE(rerun.spawned());
  EXPECT_EQ(rerun.wait(), 0) << rerun.output();
  EXPECT_TRUE(tree_is_whole(site, app_dir));

  const std::string large = "/pkg/d2/f6.bin";
  const std::string before = read_file(app_dir + large);
  site.site.write("common/d2/f6.bin", std::string(before.size(), 'n'));
  site.site.write("common/common_update.xml",
                  "$version-1.0\n$version-1.1\nCOMMON/d2/f6.bin,pkg\\d2\\\n");
  Installer update(app_dir, scratch.path(), {std::to_string(128 * 1024)});
  ASSERT_TRUE(update.spawned());
  EXPECT_EQ(update.wait(), 1);
  EXPECT_TRUE(read_file(app_dir + large) == before) << "the installed file changed";
  EXPECT_FALSE(std::filesystem::exists(app_dir + "/common_update.xml"));
  Installer after(app_dir, scratch.path());
  ASSERT_TRUE(after.spawned());
  EXPECT_EQ(after.wait(), 0) << after.output();
  EXPECT_TRUE(read_file(app_dir + large) == std::string(before.size(), 'n'));
}

// --- Updates: one release or the other ---

using Tree = std::map<std::string, std::string>;  // path under pkg/ -> contents

// The second release changes every third file of the first (two large ones
// among them) and adds 150 small ones, so that its commit has a good many
// renames to make.
Tree release_tree(int release) {
  const std::vector<PackageFile> files = package_files();
  Tree tree;
  for (std::size_t i = 0; i < files.size(); ++i) {
    std::string contents = files[i].contents;
    if (release == 2 && i % 3 == 0) contents[contents.size() / 2] ^= 0x5a;
    tree[files[i].name] = contents;
  }
  for (int n = 0; release == 2 && n < 150; ++n) {
    tree["d" + std::to_string(n % 4) + "/n" + std::to_string(n) + ".bin"] =
        std::string(200 + n, static_cast<char>('a' + n % 26));
  }
  return tree;
}

// The text from the first "$version" of the file's last line holding one.
std::string version_label(const std::string& path) {
  std::string label;
  std::istringstream lines(read_file(path));
  for (std::string line; std::getline(lines, line);) {
    const auto at = line.find("$version");
    if (at != std::string::npos) label = line.substr(at);
  }
  return label;
}

// Files of a folder tree that a player would see (no hidden ones), by path.
Tree visible_files(const std::string& folder) {
  Tree files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    if (!entry.is_regular_file() || name.front() == '.') continue;
    files[std::filesystem::relative(entry.path(), folder).string()] = read_file(entry.path());
  }
  return files;
}

// The common package published by the operator's tool, with its sums:
// release 1.0 installed once into a template folder, then release 1.1 on
// the server.
struct UpdateSite {
  UpdateSite() {
    publish(first, "1.0");
    std::filesystem::create_directory(installed);
    write_file(installed + "/setup.xml",
               "url=" + server.url("launcher/") + "\ncommon_url=" + server.url("common/") +
                   "\ncommon_install=common_install.xml\ncommon_update=common_update.xml\n");
    // The first run installs it, the second takes the update manifest that
    // says it is current.
    for (int run = 0; run < 2; ++run) {
      Installer installer(installed, scratch.path());
      EXPECT_EQ(installer.wait(), 0) << installer.output() << installer.errors();
    }
    EXPECT_EQ(release_in(installed), 1);
    publish(second, "1.1");
  }

  void publish(const Tree& tree, const std::string& version) {
    std::filesystem::remove_all(site / "common/files");
    for (const auto& [name, contents] : tree) site.write("common/files/" + name, contents);
    const ReleaseResult result = publish_package(site_files, {.group = "",
                                                              .package = "common",
                                                              .version = version,
                                                              .mandatory = "",
                                                              .source = "COMMON/files/",
                                                              .target = "pkg\\",
                                                              .package_dir = site / "common/files",
                                                              .out_dir = site / "common"});
    EXPECT_TRUE(result.ok()) << result.problems.front();
  }

  // A player's folder with release 1.0 installed.
  std::string installed_copy(const testing::TempDir& scratch_dir) const {
    const std::string app_dir = scratch_dir / "app";
    std::filesystem::copy(installed, app_dir, std::filesystem::copy_options::recursive);
    return app_dir;
  }

  // The release the folder's package is wholly at: its files, its label and
  // its record all say the same one. 0 for a mix.
  int release_in(const std::string& app_dir) const {
    const std::string label = version_label(app_dir + "/common_update.xml");
    const std::string record = version_label(app_dir + "/common_install.xml.installed");
    for (const int release : {1, 2}) {
      const Tree& tree = release == 1 ? first : second;
      const Tree& other = release == 1 ? second : first;
      const std::string expected = release == 1 ? "$version-1.0" : "$version-1.1";
      bool whole = label == expected && record == expected;
      for (const auto& [name, contents] : tree) {
        whole = whole && read_file(app_dir + "/pkg/" + name) == contents;
      }
      for (const auto& [name, contents] : other) {
        whole =
            whole && (tree.contains(name) || !std::filesystem::exists(app_dir + "/pkg/" + name));
      }
      if (whole) return release;
    }
    return 0;
  }

  // What the update asks the server for: its manifest, its sums, the files.
  [[nodiscard]] std::size_t requests_per_update() const {
    std::size_t changed = 0;
    for (const auto& [name, contents] : second) {
      changed += first.contains(name) && first.at(name) == contents ? 0 : 1;
    }
    return 2 + changed;
  }

  const Tree first = release_tree(1);
  const Tree second = release_tree(2);
  testing::TempDir site;
  testing::TestHttpServer server{site.path()};
  PosixFiles site_files{site.path()};
  testing::TempDir scratch;
  const std::string installed = scratch / "installed";
};

constexpr const char* kJournal = "/common_install.xml.tarvel-journal";

// Kills the installer once its commit has begun (its journal is on disk),
// after a random pause of up to 4 ms: before its first rename, among them,
// or after the last. False when it ended before the journal was seen.
bool kill_in_commit(Installer& installer, const std::string& app_dir, std::mt19937& random) {
  while (!std::filesystem::exists(app_dir + kJournal)) {
    if (installer.ended()) return false;
    std::this_thread::sleep_for(50us);
  }
  std::this_thread::sleep_for(
      std::chrono::microseconds(std::uniform_int_distribution<int>(0, 4000)(random)));
  installer.kill_now();
  return true;
}

TEST(FaultInjection, UpdatesKilledAtRandomPointsLeaveOneReleaseAndTheNextRunTheNew) {
  constexpr int kRounds = 36;
  UpdateSite site;
  const unsigned used_seed = seed();
  std::mt19937 random(used_seed);
  std::uniform_int_distribution<std::size_t> kill_at(1, site.requests_per_update());
  int kills = 0;
  int cut_commits = 0;
  for (int round = 0; round < kRounds; ++round) {
    testing::TempDir scratch;
    const std::string app_dir = site.installed_copy(scratch);
    {
      Installer installer(app_dir, scratch.path());
      ASSERT_TRUE(installer.spawned());
      if (round % 3 == 2) {
        kills += kill_in_commit(installer, app_dir, random) ? 1 : 0;
      } else {
        const std::size_t at = site.server.requests().size() + kill_at(random);
        ASSERT_TRUE(site.server.wait_for_requests(at, 60s)) << "round " << round;
        installer.kill_now();
        ++kills;
      }
    }
    if (std::filesystem::exists(app_dir + kJournal)) {
      ++cut_commits;
      // Every other cut commit is finished by the next start, the others by
      // the next install itself.
      if (round % 2 == 0) {
        Installer start(app_dir, scratch.path(), {"start"});
        EXPECT_EQ(start.wait(), 0) << "round " << round << ": " << start.errors();
      }
    }
    if (!std::filesystem::exists(app_dir + kJournal)) {
      EXPECT_NE(site.release_in(app_dir), 0) << "round " << round << ": a mix of releases";
    }
    Installer rerun(app_dir, scratch.path());
    EXPECT_EQ(rerun.wait(), 0) << "round " << round << ": " << rerun.output() << rerun.errors();
    EXPECT_EQ(site.release_in(app_dir), 2) << "round " << round;
    EXPECT_EQ(leftovers(app_dir), std::vector<std::string>{}) << "round " << round;
  }
  EXPECT_GE(kills, 30) << "seed " << used_seed;
  std::printf("kill -9 runs during updates: %d, commits cut short: %d (seed %u)\n", kills,
              cut_commits, used_seed);
}

// Rewrites the size a sums file gives one file.
std::string with_size(std::string sums, const std::string& source, const std::string& size) {
  const auto line_end = sums.find(" " + source + "\n");
  const auto size_start = sums.rfind(' ', line_end - 1) + 1;
  return sums.replace(size_start, line_end - size_start, size);
}

// A failed update changes nothing a player has: the old release stays byte
// for byte, and the run after the server is mended installs the new one.
TEST(FaultInjection, AFailedUpdateLeavesTheOldReleaseByteForByte) {
  using Fault = testing::TestHttpServer::Fault;
  UpdateSite site;
  const std::string changed = "d1/f9.bin";
  // The file as the server publishes it: whole, and its compressed copy and
  // patches beside it, any of which a launcher may take.
  std::map<std::string, std::string> every_form;
  for (const auto& entry : std::filesystem::directory_iterator(site.site / "common/files/d1")) {
    const std::string name = "common/files/d1/" + entry.path().filename().string();
    if (name.starts_with("common/files/" + changed)) every_form[name] = site.site.read(name);
  }
  const std::string sums_path = "common/common_update.xml.sums";
  const std::string sums = site.site.read(sums_path);
  struct Case {
    const char* name;
    std::function<void()> spoil;
    std::function<void()> mend;
    std::vector<std::string> args;  // of the failing run
    const char* said;               // on its standard error
    bool fetches_files;
  };
  const Case cases[] = {
      {"a file the server lost",
       [&] {
         for (const auto& [form, bytes] : every_form) site.server.set_fault(form, Fault::not_found);
       },
       [&] {
         for (const auto& [form, bytes] : every_form) site.server.set_fault(form, Fault::none);
       },
       {},
       "",
       true},
      {"a file unlike its sum",
       [&] {
         for (const auto& [form, bytes] : every_form) site.site.write(form, "tampered");
       },
       [&] {
         for (const auto& [form, bytes] : every_form) site.site.write(form, bytes);
       },
       {},
       "",
       true},
      {"a full disk", [] {}, [] {}, {std::to_string(128 * 1024)}, "", true},
      {"no room for the update",
       [&] {
         site.site.write(sums_path, with_size(sums, "COMMON/files/" + changed, "1000000000000000"));
       },
       [&] { site.site.write(sums_path, sums); },
       {},
       "not enough free space: the installation needs",
       false},
  };
  for (const Case& c : cases) {
    testing::TempDir scratch;
    const std::string app_dir = site.installed_copy(scratch);
    c.spoil();
    const std::size_t seen = site.server.requests().size();
    Installer failing(app_dir, scratch.path(), c.args);
    EXPECT_EQ(failing.wait(), 1) << c.name;
    EXPECT_EQ(failing.output(), "status 401 Err=401\n") << c.name;
    EXPECT_NE(failing.errors().find(c.said), std::string::npos)
        << c.name << ": " << failing.errors();
    std::size_t files_asked = 0;
    const auto requests = site.server.requests();
    for (std::size_t i = seen; i < requests.size(); ++i) {
      files_asked += requests[i].path.starts_with("common/files/") ? 1 : 0;
    }
    EXPECT_EQ(files_asked > 0, c.fetches_files) << c.name;
    Tree left = visible_files(app_dir);
    left.erase("temp_ver.xml");  // the server's update manifest, as the update fetched it
    EXPECT_TRUE(left == visible_files(site.installed)) << c.name << ": the old release changed";
    c.mend();
    Installer rerun(app_dir, scratch.path());
    EXPECT_EQ(rerun.wait(), 0) << c.name << ": " << rerun.errors();
    EXPECT_EQ(site.release_in(app_dir), 2) << c.name;
  }
}

}  // namespace
}  // namespace tarvel
