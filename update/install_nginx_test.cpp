// Installs a generated package tree from a real nginx on loopback, the way
// the launcher meets its download server.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <sstream>

#include "tests/support/nginx.hpp"
#include "tests/support/test_app.hpp"
#include "update/manifest.hpp"
#include "update/package_install.hpp"

namespace tarvel {
namespace {

// Bytes that differ per file, so a file written to the wrong name shows.
std::string contents_for(const std::string& name, std::size_t size) {
  std::mt19937 random(static_cast<unsigned>(std::hash<std::string>{}(name)));
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(random());
  return bytes;
}

struct NginxInstall : ::testing::Test {
  // Serves files under common/, games/ and base/, and lists them in a manifest.
  std::string add(const std::string& remote, const std::string& served_path,
                  const std::string& folder, std::size_t size) {
    served.write(served_path, contents_for(served_path, size));
    expected.emplace_back(folder, served_path);
    return remote + "," + folder + "\n";
  }

  void expect_installed() {
    for (const auto& [folder, served_path] : expected) {
      const std::string name = served_path.substr(served_path.find_last_of('/') + 1);
      std::string local = folder + name;
      std::replace(local.begin(), local.end(), '\\', '/');
      EXPECT_EQ(t.dir.read(local), served.read(served_path)) << local;
    }
  }

  testing::TempDir served;
  testing::Nginx nginx{served.path()};
  testing::TestApp t;
  std::vector<std::pair<std::string, std::string>> expected;
};

TEST_F(NginxInstall, WholeTreeThenDelta) {
  ASSERT_TRUE(nginx.running()) << nginx.error_log();
  Settings& s = t.app.settings();
  s.set_url(nginx.url("base/"));
  s.set_common_url(nginx.url("common/"));
  s.set_game_url(nginx.url("games/"));
  const std::string root = s.application_directory();

  std::string install = "$version-1.0\n";
  for (int i = 0; i < 40; ++i) {
    const std::string n = std::to_string(i);
    install +=
        add("COMMON/img/" + n + ".png", "common/img/" + n + ".png", "app-popup\\images\\", 100 * i);
    install +=
        add("GAMES/slot/s" + n + ".swf", "games/slot/s" + n + ".swf", "games\\slot\\", 3000 + i);
  }
  install += add("lang\\en.xml", "base/lang/en.xml", "app-popup\\", 200000);
  t.dir.write("install.xml", install);
  count_entries(t.app, "install.xml");
  EntryList entries;
  ASSERT_TRUE(install_full_manifest(t.app, entries, "install.xml", root, s.url()));
  EXPECT_EQ(entries.size(), 81u);
  EXPECT_EQ(s.item_index(), 81);
  expect_installed();

  // Version 1.1 changes three files; a client at 1.0 fetches exactly those.
  std::string update = "$version-1.0\n$version-1.1\n";
  expected.clear();
  for (const char* n : {"3", "7"}) {
    update += add(std::string("GAMES/slot/s") + n + ".swf",
                  std::string("games/slot/s") + n + ".swf", "games\\slot\\", 777);
  }
  update += add("COMMON/img/new.png", "common/img/new.png", "app-popup\\images\\new\\", 5);
  t.dir.write("update.xml", update);
  ASSERT_TRUE(install_manifest_delta(t.app, entries, "update.xml", root, s.url(), "$version-1.0",
                                     read_version_label(t.app, "update.xml")));
  EXPECT_EQ(entries.size(), 3u);
  expect_installed();
}

// A server that offers HTTP/2 over TLS gets one connection, on which all
// the transfers of a list run side by side.
TEST(NginxInstallOverTls, ATlsServerWithHttp2CarriesTheListOnOneConnection) {
  if (!testing::Nginx::offers_http2_over_tls()) {
    GTEST_SKIP() << "the installed nginx was built without TLS or HTTP/2";
  }
  testing::TempDir keys;
  ASSERT_TRUE(testing::make_loopback_certificate(keys)) << "openssl could not make a certificate";
  testing::TempDir served;
  std::string manifest = "$version-1.0\n";
  for (int i = 0; i < 40; ++i) {
    const std::string name = "f" + std::to_string(i) + ".swf";
    served.write("pkg/" + name, contents_for(name, 5000 + i));
    manifest += "pkg/" + name + ",games\\\n";
  }
  testing::Nginx nginx(served.path(), {keys / "cert.pem", keys / "key.pem"});
  ASSERT_TRUE(nginx.running()) << nginx.error_log();

  testing::TestApp t;
  CurlHttpGet trusting(keys / "cert.pem", testing::quick_retries());
  App app(t.services_with([&](Services& s) { s.http_get = &trusting; }), "localhost");
  app.settings().set_application_directory(t.dir.path() + "/");
  testing::use_connections_from_environment(app.settings());
  t.dir.write("m.xml", manifest);
  EntryList entries;
  ASSERT_TRUE(install_full_manifest(app, entries, "m.xml", t.dir.path() + "/", nginx.url()));
  EXPECT_EQ(t.dir.read("games/f39.swf"), served.read("pkg/f39.swf"));

  std::set<std::string> connections;
  std::istringstream log(nginx.access_log());
  int requests = 0;
  for (std::string connection, path, protocol; log >> connection >> path >> protocol;) {
    connections.insert(connection);
    EXPECT_EQ(protocol, "HTTP/2.0") << path;
    ++requests;
  }
  EXPECT_EQ(requests, 40);
  EXPECT_EQ(connections.size(), 1u);
}

}  // namespace
}  // namespace tarvel
