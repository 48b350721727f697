#include "operator/tree_check.hpp"

#include <gtest/gtest.h>

#include <filesystem>

#include "operator/sample_client.hpp"
#include "platform/posix/posix_files.hpp"
#include "tests/support/temp_dir.hpp"

namespace tarvel {
namespace {

constexpr const char* kBase = "http://casino.test/";

// The sample client, published as an operator publishes it: whole, then
// with one piece taken away or changed at a time.
struct PublishedSample : ::testing::Test {
  PublishedSample() {
    std::vector<std::string> problems;
    EXPECT_TRUE(write_sample_client(files, dir.path(), 2, kBase, problems));
  }
  TreeCheckResult check() {
    return check_operator_tree(files, {dir / kSampleClient, dir / kSampleTree, ""});
  }

  testing::TempDir dir;
  PosixFiles files{dir.path()};
};

TEST_F(PublishedSample, EverythingALauncherFetchesIsThere) {
  const TreeCheckResult result = check();
  EXPECT_TRUE(result.ok()) << ::testing::PrintToString(result.problems);
  EXPECT_EQ(result.languages, (std::vector<std::string>{"en", "de"}));
  EXPECT_EQ(result.manifests, 40u) << "login, common, casino, 5 games; 2 languages; 2 each";
  EXPECT_GT(result.files, 20u);
}

TEST_F(PublishedSample, EachMissingOrChangedPieceIsNamedByItsAddress) {
  const struct {
    const char* path;  // in the tree
    bool removed;      // else changed
    const char* named;
  } cases[] = {
      {"launcher/setup.xml", true, "missing: http://casino.test/launcher/setup.xml"},
      {"launcher/update_login_install.xml", true,
       "missing: http://casino.test/launcher/update_login_install.xml"},
      {"common/common_update.xml", true, "missing: http://casino.test/common/common_update.xml"},
      {"common/language/de/de_common_install.xml", true,
       "missing: http://casino.test/common/language/de/de_common_install.xml"},
      {"launcher/common_casino_install.xml.sums", true,
       "missing: http://casino.test/launcher/common_casino_install.xml.sums"},
      {"games/common_keno_install.xml.sums.sig", true,
       "missing: http://casino.test/games/common_keno_install.xml.sums.sig"},
      {"games/language/en/en_roulette_install.xml", true,
       "missing: http://casino.test/games/language/en/en_roulette_install.xml"},
      {"games/keno/keno.swf", true, "missing: http://casino.test/games/keno/keno.swf"},
      {"games/keno/keno.swf", false,
       "http://casino.test/games/keno/keno.swf: not the file its sums describe"},
      {"games/common_keno_install.xml.sums", false,
       "http://casino.test/games/common_keno_install.xml.sums: "},
  };
  for (const auto& c : cases) {
    const std::string path = dir / (std::string(kSampleTree) + "/" + c.path);
    const std::string kept = dir.read(std::string(kSampleTree) + "/" + c.path);
    if (c.removed) {
      std::filesystem::remove(path);
    } else {
      dir.write(std::string(kSampleTree) + "/" + c.path, kept + "changed\n");
    }
    const TreeCheckResult result = check();
    ASSERT_FALSE(result.ok()) << c.path;
    EXPECT_TRUE(result.problems[0].starts_with(c.named))
        << c.path << ": " << ::testing::PrintToString(result.problems);
    dir.write(std::string(kSampleTree) + "/" + c.path, kept);
  }
  EXPECT_TRUE(check().ok());
}

TEST_F(PublishedSample, AClientWithoutItsSettingsIsNamed) {
  dir.write(std::string(kSampleClient) + "/setup.xml", "url=http://casino.test/launcher/\n");
  const TreeCheckResult result = check();
  EXPECT_EQ(result.problems.front(), "setup.xml: no common_url= line");
  std::filesystem::remove(dir / (std::string(kSampleClient) + "/Config.xml"));
  EXPECT_EQ(check().problems, (std::vector<std::string>{dir / "client/Config.xml: cannot be read"}));
}

}  // namespace
}  // namespace tarvel
