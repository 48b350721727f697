#include "operator/launcher_release.hpp"

#include <optional>

#include "core/settings_readers.hpp"
#include "operator/signing.hpp"
#include "platform/files.hpp"
#include "update/manifest.hpp"
#include "update/package_files.hpp"
#include "update/sums.hpp"

namespace tarvel {
namespace {

constexpr std::string_view kVersionMarker = "$version";

std::uint64_t previous_serial(Files& files, const std::string& path) {
  const auto text = files.read(path);
  std::string error;
  const auto sums = text ? parse_sums(*text, error) : std::nullopt;
  return sums ? sums->serial : 0;
}

}  // namespace

LauncherSumsResult publish_launcher_sums(Files& files, const std::string& dir,
                                         const std::string& signing_key) {
  LauncherSumsResult result;
  const std::string base = dir.empty() || dir.ends_with('/') ? dir : dir + "/";
  auto settings = files.read(base + kSettingsFileName);
  if (settings && !announces_sums(*settings)) {
    // Launchers without an update key ask for the sums only when the
    // settings copy says they are there.
    if (!settings->empty() && settings->back() != '\n') *settings += "\n";
    *settings += std::string(kSumsAnnouncement) + "\n";
    if (!files.write(base + kSettingsFileName, *settings)) settings.reset();
  }
  if (!settings) {
    result.problems.push_back(base + kSettingsFileName + ": cannot be read");
    return result;
  }
  // The program the launchers will fetch, named as their settings reader
  // reads the name.
  const std::string exe_name = settings_value(*settings, kExeNameKey);
  if (!is_plain_file_name(exe_name)) {
    result.problems.push_back(std::string(kSettingsFileName) + ": names no exe_name to vouch for");
    return result;
  }
  const std::string sums_path = base + kSettingsFileName + kSumsSuffix;
  Sums sums{kSettingsFileName,
            sha256_hex(*settings),
            last_label(*settings, kVersionMarker),
            previous_serial(files, sums_path) + 1,
            {}};
  for (const std::string& name : {exe_name, std::string(kConfigFileName)}) {
    const auto sum = file_sum(files.native_path(base + name));
    if (!sum) {
      result.problems.push_back(base + name + ": cannot be read");
      continue;
    }
    sums.files[name] = *sum;
    result.files.push_back(name);
  }
  std::optional<std::string> signature;
  const std::string text = sums_text(sums);
  if (!signing_key.empty() && !(signature = sign_text(signing_key, text))) {
    result.problems.push_back("the signing key is not an Ed25519 private key");
  }
  if (!result.ok()) return result;
  if (!files.write(sums_path, text) ||
      (signature && !files.write(sums_path + kSignatureSuffix, *signature + "\n"))) {
    result.problems.push_back(sums_path + ": cannot be written");
  }
  result.version = sums.version;
  result.serial = sums.serial;
  return result;
}

}  // namespace tarvel
