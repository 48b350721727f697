#include "operator/tree_check.hpp"

#include <set>

#include "core/language_list.hpp"
#include "core/settings.hpp"
#include "core/settings_readers.hpp"
#include "core/text_lines.hpp"
#include "platform/files.hpp"
#include "server/cut_at.hpp"
#include "server/login_request.hpp"
#include "update/game_package.hpp"
#include "update/manifest.hpp"
#include "update/package_files.hpp"
#include "update/release_check.hpp"
#include "update/sums.hpp"

namespace tarvel {
namespace {

constexpr const char* kSettingsKeys[] = {"url",           "common_url",    "game_url",
                                         "common_install", "common_update", "version"};
constexpr const char* kLinkLabel = "linkLabel";
constexpr const char* kLoginGroup = "update";
constexpr const char* kLoginPackage = "login";
constexpr const char* kCommonGroup = "common";
constexpr const char* kCasinoPackage = "casino";

class TreeCheck {
 public:
  TreeCheck(Files& files, const TreeCheckInput& input) : files_(files), input_(input) {}

  TreeCheckResult run() {
    if (!read_client()) return std::move(result_);
    check_settings_copy();
    check_package(url_, build_manifest_name(kLoginGroup, kLoginPackage, kInstallKind),
                  build_manifest_name(kLoginGroup, kLoginPackage, kUpdateKind));
    check_package(common_url_, common_install_, common_update_);
    for (const std::string& language : result_.languages) {
      check_language_pack(common_url_, language, kCommonGroup);
    }
    check_package(url_, build_manifest_name(kCommonGroup, kCasinoPackage, kInstallKind),
                  build_manifest_name(kCommonGroup, kCasinoPackage, kUpdateKind));
    for (const std::string& game : games_) {
      const std::string name = listed_game_name(game);
      check_package(game_url_, build_manifest_name(kCommonGroup, name, kInstallKind),
                    build_manifest_name(kCommonGroup, name, kUpdateKind));
      for (const std::string& language : result_.languages) {
        check_language_pack(game_url_, language, name);
      }
    }
    return std::move(result_);
  }

 private:
  void problem(std::string text) { result_.problems.push_back(std::move(text)); }

  std::optional<std::string> client_file(const std::string& name) {
    auto text = files_.read(input_.client_dir + "/" + name);
    if (!text) problem(input_.client_dir + "/" + name + ": cannot be read");
    return text;
  }

  bool read_client() {
    const auto setup = client_file(kSettingsFileName);
    const auto config = client_file(kConfigFileName);
    if (!setup || !config) return false;
    for (const char* key : kSettingsKeys) {
      if (settings_value(*setup, key).empty()) {
        problem(std::string(kSettingsFileName) + ": no " + key + "= line");
      }
    }
    url_ = settings_value(*setup, "url");
    common_url_ = settings_value(*setup, "common_url");
    game_url_ = settings_value(*setup, "game_url");
    common_install_ = settings_value(*setup, "common_install");
    common_update_ = settings_value(*setup, "common_update");
    version_ = settings_value(*setup, "version");
    read_config(*config);
    served_at_ = input_.served_at.empty() ? server_root(url_) : input_.served_at;
    if (!served_at_.ends_with('/')) served_at_ += '/';
    const auto list = files_.read(input_.client_dir + "/" + kLanguageFileName);
    for (const LanguageEntry& entry : parse_language_list(list.value_or(""))) {
      result_.languages.push_back(entry.name);
    }
    if (result_.languages.empty()) {
      problem(std::string(kLanguageFileName) + ": names no language");
    }
    return !url_.empty();
  }

  void read_config(const std::string& config) {
    key_ = config_value(config, kUpdateKeyName);
    if (key_ == kConfigNotFound) key_.clear();
    if (!key_.empty() && !public_key_valid(key_)) {
      problem(std::string(kConfigFileName) + ": " + kUpdateKeyName +
              " is not an Ed25519 public key");
    }
    const std::string games = config_value(config, kLinkLabel);
    if (games != kConfigNotFound) games_ = cut_at(games, ",");
    if (config_value(config, "ServerURL") == kConfigNotFound) {
      problem(std::string(kConfigFileName) + ": no ServerURL, so no login");
    }
  }

  // The tree's file for an address, or "" (named as a problem) when the
  // address lies outside what the tree serves.
  std::string tree_path(const std::string& address) {
    if (!address.starts_with(served_at_)) {
      problem(address + ": not under " + served_at_ + ", where the tree is served");
      return {};
    }
    const std::string relative = address.substr(served_at_.size());
    if (!stays_inside(relative)) {
      problem(address + ": leads out of the tree");
      return {};
    }
    return input_.tree + "/" + relative;
  }

  // A file of the tree, read; nothing (named as missing) when it is not there.
  std::optional<std::string> tree_text(const std::string& address) {
    const std::string path = tree_path(address);
    if (path.empty()) return std::nullopt;
    auto text = files_.read(path);
    if (!text) problem("missing: " + address + " (" + path + ")");
    return text;
  }

  // The server's setup.xml. Its sums are asked for when it announces them,
  // and, with an update key, when it offers a release other than the
  // client's: that release is refused without them.
  void check_settings_copy() {
    const std::string address = url_ + kSettingsFileName;
    const auto text = tree_text(address);
    if (!text) return;
    const bool release = settings_value(*text, "version") != version_;
    if (announces_sums(*text) || (!key_.empty() && release)) (void)read_sums(address, *text);
  }

  void check_language_pack(const std::string& base, const std::string& language,
                           const std::string& package) {
    const std::string at = language_base_address(base, language);
    check_package(at, build_manifest_name(language, package, kInstallKind),
                  build_manifest_name(language, package, kUpdateKind));
  }

  void check_package(const std::string& base, const std::string& install_name,
                     const std::string& update_name) {
    if (base.empty() || !is_plain_file_name(install_name)) return;
    check_manifest(base + install_name);
    if (is_plain_file_name(update_name)) check_manifest(base + update_name);
  }

  void check_manifest(const std::string& address) {
    if (!seen_.insert(address).second) return;
    const auto text = tree_text(address);
    if (!text) return;
    ++result_.manifests;
    std::optional<Sums> sums;
    if (announces_sums(*text) || !key_.empty()) {
      sums = read_sums(address, *text);
      if (!sums) return;
    }
    for (const std::string_view line : text_lines(*text)) {
      if (line.find(',') == std::string_view::npos) continue;
      const auto entry = read_entry_line(line);
      if (!entry) {
        problem(address + ": launchers refuse the line \"" + printable(line) + "\"");
        continue;
      }
      check_entry(address, *entry, sums);
    }
  }

  void check_entry(const std::string& manifest, const ManifestEntry& entry,
                   const std::optional<Sums>& sums) {
    const EntryTransfer transfer = entry_transfer(entry, common_url_, game_url_, "", url_);
    std::optional<FileSum> sum;
    if (sums) {
      const auto found = sums->files.find(sums_key(entry.remote_path));
      if (found == sums->files.end()) {
        problem(manifest + kSumsSuffix + ": gives no sum for \"" + entry.remote_path + "\"");
        return;
      }
      sum = found->second;
    }
    if (!seen_.insert(transfer.address).second) return;
    const std::string path = tree_path(transfer.address);
    if (path.empty()) return;
    if (files_.kind(path) != Files::Kind::file) {
      problem("missing: " + transfer.address + " (" + path + "), listed in " + manifest);
      return;
    }
    ++result_.files;
    if (!sum) return;
    const auto actual = file_sum(files_.native_path(path));
    if (!actual || *actual != *sum) {
      problem(transfer.address + ": not the file its sums describe (" + path +
              " changed since it was published)");
    }
  }

  // The sums beside a manifest, checked as a launcher checks them.
  std::optional<Sums> read_sums(const std::string& address, const std::string& manifest) {
    const std::string sums_address = address + kSumsSuffix;
    const auto text = tree_text(sums_address);
    if (!text) return std::nullopt;
    std::string error;
    auto sums = parse_sums(*text, error);
    if (!sums) {
      problem(sums_address + ": " + error);
      return std::nullopt;
    }
    if (sums->manifest_sha256 != sha256_hex(manifest)) {
      problem(sums_address + ": made for another manifest than " + address);
    } else if (sums->version != version_label(manifest)) {
      problem(sums_address + ": names version \"" + sums->version + "\", the manifest another");
    }
    if (!key_.empty()) {
      const std::string signature_address = sums_address + kSignatureSuffix;
      const auto signature = tree_text(signature_address);
      if (signature && !signature_valid(key_, *text, *signature)) {
        problem(signature_address + ": not a signature by Config.xml's UpdateKey");
      }
    }
    return sums;
  }

  Files& files_;
  const TreeCheckInput& input_;
  TreeCheckResult result_;
  std::string url_, common_url_, game_url_, common_install_, common_update_, version_;
  std::string key_;
  std::string served_at_;
  std::vector<std::string> games_;
  std::set<std::string> seen_;
};

}  // namespace

TreeCheckResult check_operator_tree(Files& files, const TreeCheckInput& input) {
  return TreeCheck(files, input).run();
}

}  // namespace tarvel
