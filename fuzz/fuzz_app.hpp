#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "tests/support/test_app.hpp"

namespace tarvel::fuzzing {

// The input as text.
inline std::string_view text_of(const std::uint8_t* data, std::size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

// One launcher for the whole run, in a sandbox folder: sandbox/app is the
// application directory, sandbox/outside the folder its link "lnk" points
// to. Whatever an input does, nothing may appear beside "app" or in
// "outside".
struct Sandbox {
  Sandbox();
  // Aborts (a crash the fuzzer reports with its input) when something was
  // written outside the application directory; then empties the
  // application directory again, the link excepted.
  void check_and_reset();

  testing::TestApp services;  // every service but the files
  testing::TempDir dir;
  std::string root;
  std::string outside;
  PosixFiles files;
  App app;
};

// The sandbox of this process, made on first use.
Sandbox& sandbox();

}  // namespace tarvel::fuzzing
