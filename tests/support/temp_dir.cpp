#include "tests/support/temp_dir.hpp"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace tarvel::testing {

TempDir::TempDir() {
  std::string pattern = (fs::temp_directory_path() / "tarvel-test-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

void TempDir::write(const std::string& name, const std::string& contents) const {
  const fs::path target = fs::path(path_) / name;
  fs::create_directories(target.parent_path());
  std::ofstream out(target, std::ios::binary);
  out << contents;
  ASSERT_TRUE(out.good()) << "cannot write " << target;
}

std::string TempDir::read(const std::string& name) const {
  std::ifstream in(fs::path(path_) / name, std::ios::binary);
  if (!in) return "<missing>";
  std::ostringstream contents;
  contents << in.rdbuf();
  return contents.str();
}

bool TempDir::exists(const std::string& name) const {
  std::error_code ignored;
  return fs::exists(fs::symlink_status(fs::path(path_) / name, ignored));
}

std::vector<std::string> names_in(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

bool make_loopback_certificate(const TempDir& folder) {
  const std::string command =
      "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=127.0.0.1"
      " -addext subjectAltName=IP:127.0.0.1 -keyout " +
      (folder / "key.pem") + " -out " + (folder / "cert.pem") + " >/dev/null 2>&1";
  return std::system(command.c_str()) == 0;
}

}  // namespace tarvel::testing
