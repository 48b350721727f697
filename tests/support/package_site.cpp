#include "tests/support/package_site.hpp"

#include "core/settings_readers.hpp"

namespace tarvel::testing {
namespace {

// "games/slot/a.swf" goes to the folder "games\slot\".
std::string target_folder(const std::string& file) {
  const auto slash = file.rfind('/');
  if (slash == std::string::npos) return {};
  std::string folder = file.substr(0, slash + 1);
  for (char& c : folder) {
    if (c == '/') c = '\\';
  }
  return folder;
}

}  // namespace

void PackageSite::point(Settings& settings) const {
  settings.set_url(server.url());
  settings.set_common_url(server.url(kCommon));
  settings.set_game_url(server.url(kGames));
  settings.set_game_language_address(server.url(kGameLanguages));
  settings.set_common_language_address(server.url(kCommonLanguages));
}

void PackageSite::log_in(App& app, const TempDir& directory) const {
  Settings& settings = app.settings();
  apply_defaults(settings);
  settings.set_application_directory(directory.path() + "/");
  point(settings);
  settings.set_selected_language("en");
}

void PackageSite::publish(const std::string& folder, const std::string& manifest,
                          const std::vector<std::string>& files, const std::string& version) const {
  std::string text = "$version-" + version + "\n";
  for (const std::string& file : files) {
    text += file + "," + target_folder(file) + "\n";
    site.write(file, file);
  }
  site.write(folder + manifest, text);
}

void PackageSite::publish_common(const std::vector<std::string>& files,
                                 const std::string& version) const {
  publish(kCommon, "common_install.xml", files, version);
  site.write(std::string(kCommon) + "common_update.xml", "$version-" + version + "\n");
}

std::vector<std::string> PackageSite::requested(std::size_t since) const {
  std::vector<std::string> paths;
  const auto all = server.requests();
  for (std::size_t i = since; i < all.size(); ++i) paths.push_back(all[i].path);
  return paths;
}

}  // namespace tarvel::testing
