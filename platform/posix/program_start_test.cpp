#include "platform/posix/program_start.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "tests/support/temp_dir.hpp"

namespace tarvel {
namespace {

TEST(FirstOutputLine, TheFirstLineWithinTheLimitOrNothing) {
  testing::TempDir dir;
  struct Case {
    const char* script;
    std::optional<std::string> line;
  };
  const Case cases[] = {
      {"echo 'tarvel 1.2.3'; echo second", "tarvel 1.2.3"},
      {"printf 'no newline'", "no newline"},
      {"echo 'to the error stream' >&2; exit 2", std::nullopt},
      // Ended, not waited for (or the test's time-out ends it first).
      {"exec sleep 1000", std::nullopt},
      {"echo 'said, then busy'; exec sleep 1000", "said, then busy"},
  };
  for (const Case& c : cases) {
    dir.write("program", std::string("#!/bin/sh\n") + c.script + "\n");
    ASSERT_EQ(::chmod((dir / "program").c_str(), 0755), 0);
    EXPECT_EQ(first_output_line(dir / "program", {"program", "--version"},
                                std::chrono::milliseconds(500)),
              c.line)
        << c.script;
  }
  EXPECT_EQ(first_output_line(dir / "missing", {"missing"}, std::chrono::milliseconds(500)),
            std::nullopt);
}

}  // namespace
}  // namespace tarvel
