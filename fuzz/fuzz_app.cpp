#include "fuzz/fuzz_app.hpp"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace fs = std::filesystem;

namespace tarvel::fuzzing {
namespace {

[[noreturn]] void escaped(const std::string& what) {
  std::fprintf(stderr, "written outside the application directory: %s\n", what.c_str());
  std::abort();
}

}  // namespace

Sandbox::Sandbox()
    : root(dir / "app"),
      outside(dir / "outside"),
      files(root),
      app(services.services_with([&](Services& s) { s.files = &files; }), "localhost") {
  fs::create_directory(root);
  fs::create_directory(outside);
  if (::symlink("../outside", (root + "/lnk").c_str()) != 0) std::abort();
  app.settings().set_application_directory(root + "/");
}

void Sandbox::check_and_reset() {
  for (const std::string& name : testing::names_in(dir.path())) {
    if (name != "app" && name != "outside") escaped(dir / name);
  }
  for (const std::string& name : testing::names_in(outside)) escaped(outside + "/" + name);
  for (const auto& entry : fs::directory_iterator(root)) {
    if (entry.path().filename() != "lnk") fs::remove_all(entry.path());
  }
}

Sandbox& sandbox() {
  static Sandbox box;
  return box;
}

}  // namespace tarvel::fuzzing
