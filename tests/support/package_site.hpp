#pragma once

#include <string>
#include <vector>

#include "core/app.hpp"
#include "tests/support/temp_dir.hpp"
#include "tests/support/test_http_server.hpp"

namespace tarvel::testing {

// A download server on 127.0.0.1 with the client's packages, laid out the way
// the launcher's settings address them:
//   ""             the url setting: the casino package, files of every package
//   "common/"      common_url: the common package's manifests
//   "games/"       game_url: each game's main package
//   "lang/games/"  the game language address
//   "lang/common/" the common language address
class PackageSite {
 public:
  static constexpr const char* kCommon = "common/";
  static constexpr const char* kGames = "games/";
  static constexpr const char* kGameLanguages = "lang/games/";
  static constexpr const char* kCommonLanguages = "lang/common/";

  // Points the launcher's addresses at the site, and the language addresses
  // at its language folders.
  void point(Settings& settings) const;
  // A launcher as a login leaves it, in the application directory, with the
  // settings' defaults, the site's addresses and the language "en".
  void log_in(App& app, const TempDir& directory) const;

  // Publishes an installation manifest in the folder with the version label
  // and one entry per file; each file is put on the site with its own path as
  // content and goes to the same path under the application directory.
  void publish(const std::string& folder, const std::string& manifest,
               const std::vector<std::string>& files, const std::string& version = "1.0") const;
  // The common package ("common_install.xml") and the update manifest that
  // says it is current.
  void publish_common(const std::vector<std::string>& files,
                      const std::string& version = "1.0") const;
  // A manifest with these exact lines.
  void write(const std::string& path, const std::string& text) const { site.write(path, text); }

  // Paths requested so far (without the leading "/"), in order, and the
  // number of requests, for "what was fetched since".
  [[nodiscard]] std::vector<std::string> requested(std::size_t since = 0) const;
  [[nodiscard]] std::size_t request_count() const { return server.requests().size(); }

  TempDir site;
  TestHttpServer server{site.path()};
};

}  // namespace tarvel::testing
