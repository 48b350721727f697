#include "platform/posix/posix_resolver.hpp"

#include <gtest/gtest.h>

namespace tarvel {
namespace {

// Only names the machine answers itself (hosts file, literals): tests send
// nothing to a name server.
TEST(PosixResolver, LocalNamesAndLiterals) {
  PosixResolver resolver;
  EXPECT_EQ(resolver.resolve("127.0.0.1"), (Ipv4Address{127, 0, 0, 1}));
  const auto localhost = resolver.resolve("localhost");
  ASSERT_TRUE(localhost.has_value());
  EXPECT_EQ((*localhost)[0], 127);
  EXPECT_FALSE(resolver.resolve("").has_value());
}

}  // namespace
}  // namespace tarvel
