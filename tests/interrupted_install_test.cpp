// An install killed on its way (kill -9, a power cut) and run again: nothing
// of the interrupted run may stay behind once the next one is done.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <filesystem>

#include "tests/support/eventually.hpp"
#include "tests/support/test_app.hpp"
#include "tests/support/test_http_server.hpp"
#include "update/manifest.hpp"

extern char** environ;

namespace tarvel {
namespace {

using Fault = testing::TestHttpServer::Fault;
constexpr std::size_t kBig = 1024 * 1024;

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

// Starts the install in a process of its own; its temporary folder lies in
// `scratch`, so a kill leaves nothing outside the test's folders.
pid_t start_child(const std::string& directory, const std::string& manifest,
                  const std::string& address_base, const std::string& scratch) {
  std::vector<std::string> environment{"TMPDIR=" + scratch};
  for (char** variable = environ; *variable != nullptr; ++variable) {
    if (std::string(*variable).rfind("TMPDIR=", 0) != 0) environment.emplace_back(*variable);
  }
  std::vector<char*> envp;
  for (std::string& variable : environment) envp.push_back(variable.data());
  envp.push_back(nullptr);
  std::string program = TARVEL_INSTALL_CHILD;
  std::vector<std::string> arguments{program, directory, manifest, address_base};
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), envp.data()) != 0)
    return -1;
  return pid;
}

TEST(InterruptedInstall, TheNextRunResumesOrRemovesWhatAKilledOneLeft) {
  testing::TempDir site;
  testing::TempDir scratch;
  testing::TestHttpServer server(site.path());
  testing::TestApp t;
  std::string manifest = "$version-1.0\n";
  const auto add = [&](const std::string& name, const std::string& contents) {
    site.write("pkg/" + name, contents);
    manifest += "pkg/" + name + ",games\\slot\\\n";
  };
  for (int i = 0; i < 10; ++i) add("s" + std::to_string(i) + ".swf", std::string(3000 + i, 's'));
  for (int i = 0; i < 3; ++i) {
    add("big" + std::to_string(i) + ".bin", std::string(kBig, static_cast<char>('0' + i)));
    server.set_fault("pkg/big" + std::to_string(i) + ".bin", Fault::stall);
  }
  for (int i = 10; i < 20; ++i) add("s" + std::to_string(i) + ".swf", std::string(3000 + i, 's'));
  t.dir.write("m.xml", manifest);
  // What an older launcher's crash left: a temporary of a random name.
  t.dir.write("games/slot/.tarvel-part-Ab12Cd", "stale");

  const pid_t child = start_child(t.dir.path(), t.dir / "m.xml", server.url(), scratch.path());
  ASSERT_GT(child, 0);
  // Killed once the first large file is half there, its note written.
  const std::string part = t.dir / "games/slot/.big0.bin.tarvel-part";
  const bool half_there = testing::eventually([&] {
    return size_of(part) >= kBig / 2 && t.dir.exists("games/slot/.big0.bin.tarvel-resume");
  });
  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
  ASSERT_TRUE(half_there);
  EXPECT_FALSE(t.dir.exists("games/slot/big0.bin")) << "no part is ever renamed into place";
  EXPECT_GE(leftovers(t.dir.path()).size(), 3u) << "the kill left parts behind";

  for (int i = 0; i < 3; ++i) server.set_fault("pkg/big" + std::to_string(i) + ".bin", Fault::none);
  server.release_stalls();
  const std::size_t before = server.requests().size();
  EntryList entries;
  ASSERT_TRUE(install_full_manifest(t.app, entries, "m.xml", t.dir.path() + "/", server.url()));

  for (int i = 0; i < 3; ++i) {
    const std::string name = "big" + std::to_string(i) + ".bin";
    EXPECT_EQ(t.dir.read("games/slot/" + name), site.read("pkg/" + name)) << name;
  }
  EXPECT_EQ(t.dir.read("games/slot/s19.swf"), site.read("pkg/s19.swf"));
  EXPECT_EQ(leftovers(t.dir.path()), std::vector<std::string>{});
  const auto seen = server.requests();
  const bool resumed =
      std::any_of(seen.begin() + static_cast<std::ptrdiff_t>(before), seen.end(),
                  [](const auto& r) { return r.path == "pkg/big0.bin" && !r.range.empty(); });
  EXPECT_TRUE(resumed) << "the half on disk was continued, not fetched again";
}

}  // namespace
}  // namespace tarvel
