#include "core/app.hpp"

#include <gtest/gtest.h>

#include "tests/support/test_app.hpp"

namespace tarvel {
namespace {

// Checked in every build, release included: a missing service stops the
// program at once and says which one.
TEST(AppDeathTest, AMissingServiceStopsTheProgramNamingIt) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  testing::TestApp t;
  const Services without_post = t.services_with([](Services& s) { s.http_post = nullptr; });
  EXPECT_DEATH({ App app(without_post); }, "http_post service was not set");
  const Services without_shell = t.services_with([](Services& s) { s.shell = nullptr; });
  EXPECT_DEATH({ App app(without_shell); }, "shell service was not set");
}

}  // namespace
}  // namespace tarvel
