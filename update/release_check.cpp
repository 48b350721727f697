#include "update/release_check.hpp"

#include <cstdlib>

#include "core/app.hpp"
#include "core/settings_readers.hpp"
#include "core/text_lines.hpp"
#include "update/download.hpp"
#include "update/package_files.hpp"

namespace tarvel {
namespace {

constexpr std::string_view kRecordHeader = "tarvel-installed 1";
constexpr std::string_view kVersionKey = "version ";
constexpr std::string_view kSerialKey = "serial ";
constexpr std::string_view kFileKey = "file ";

// Names the refusal on standard error and in the log. Always false.
bool refuse(App& app, const std::string& what, const std::string& why) {
  app.log().cause(printable(what) + ": " + printable(why) + ", refused");
  return false;
}

// The installed release's serial; 0 when nothing is recorded.
std::uint64_t installed_serial(App& app, const std::string& record_name) {
  const auto text = app.files().read(record_name);
  if (!text) return 0;
  const auto record = parse_installed_record(*text);
  return record ? record->serial : 0;
}

// The sums file's text, fetched, with its signature checked when a key asks
// for one. Empty (and true) when the server has none and no key asks.
bool fetch_signed_text(App& app, const std::optional<std::string>& key,
                       const std::string& sums_address, const std::string& sums_name,
                       bool announced, std::optional<std::string>& text) {
  if (key && !public_key_valid(*key)) {
    return refuse(app, kConfigFileName, std::string(kUpdateKeyName) + " is not an Ed25519 public key");
  }
  if (!key && !announced) return true;
  std::string body;
  std::string why;
  const Fetched sums = fetch_document(app, sums_address, body, &why);
  if (sums == Fetched::failed) return refuse(app, sums_name, "could not be fetched (" + why + ")");
  if (sums == Fetched::missing) {
    if (key) return refuse(app, sums_name, "missing, and an update key asks for signed sums");
    return refuse(app, sums_name, "missing, though the manifest says its sums are published");
  }
  if (key) {
    std::string signature;
    const Fetched fetched = fetch_document(app, sums_address + kSignatureSuffix, signature);
    if (fetched != Fetched::found) return refuse(app, sums_name + kSignatureSuffix, "missing");
    if (!signature_valid(*key, body, signature)) {
      return refuse(app, sums_name, "its signature is not by the update key");
    }
  }
  text = std::move(body);
  return true;
}

std::string name_of(const std::string& address) {
  const auto slash = address.find_last_of('/');
  return slash == std::string::npos ? address : address.substr(slash + 1);
}

}  // namespace

std::optional<InstalledRecord> parse_installed_record(std::string_view text) {
  InstalledRecord record;
  bool has_header = false;
  for (const std::string_view line : text_lines(text)) {
    if (line.empty()) continue;
    if (!has_header) {
      if (line != kRecordHeader) return std::nullopt;
      has_header = true;
    } else if (line.starts_with(kVersionKey)) {
      record.version = line.substr(kVersionKey.size());
    } else if (line.starts_with(kSerialKey)) {
      record.serial =
          std::strtoull(std::string(line.substr(kSerialKey.size())).c_str(), nullptr, 10);
    } else if (line.starts_with(kFileKey)) {
      // "file <sha256> <size> <local path>\t<address>": the same fields as a
      // sums line, with the address after a tab that no local path holds.
      auto fields = read_sum_fields(line.substr(kFileKey.size()));
      const auto tab = fields ? fields->second.find('\t') : std::string::npos;
      if (tab == std::string::npos || tab == 0) return std::nullopt;
      record.files[fields->second.substr(0, tab)] = {fields->second.substr(tab + 1), fields->first};
    } else {
      return std::nullopt;
    }
  }
  if (!has_header) return std::nullopt;
  return record;
}

std::string installed_record_text(const InstalledRecord& record) {
  std::string text = std::string(kRecordHeader) + "\n";
  text.append(kVersionKey).append(record.version).append("\n");
  text.append(kSerialKey).append(std::to_string(record.serial)).append("\n");
  for (const auto& [path, file] : record.files) {
    text.append(kFileKey).append(file.sum.sha256).append(" ").append(std::to_string(file.sum.size));
    text.append(" ").append(path).append("\t").append(file.address).append("\n");
  }
  return text;
}

std::optional<std::string> configured_update_key(App& app) {
  return read_config_element(app, kUpdateKeyName);
}

std::optional<std::string> sums_refusal(const Sums& sums, const ExpectedRelease& expected) {
  if (sums.package.empty() && expected.signed_release) {
    return "names no package (sums of the first form): the release must be published again";
  }
  if (!sums.package.empty() && sums.package != expected.package) {
    return "belongs to the package \"" + sums.package + "\", not to \"" + expected.package + "\"";
  }
  if (sums.manifest_sha256 != expected.manifest_sha256) {
    return "the manifest is not the one these sums were made for";
  }
  if (sums.version != expected.version) {
    return "names version \"" + sums.version + "\", the manifest another";
  }
  if (sums.serial < expected.installed_serial) {
    return "serial " + std::to_string(sums.serial) + " is lower than the installed " +
           std::to_string(expected.installed_serial) + " (an older release)";
  }
  return std::nullopt;
}

bool fetch_release_sums(App& app, const std::string& package, const std::string& manifest_address,
                        const std::string& manifest_path, const std::string& record_name,
                        std::optional<Sums>& sums) {
  sums.reset();
  const std::string sums_address = manifest_address + kSumsSuffix;
  const std::string sums_name = name_of(sums_address);
  const std::optional<std::string> key = configured_update_key(app);
  std::optional<std::string> text;
  const auto manifest = app.files().read(manifest_path);
  const bool announced = manifest && announces_sums(*manifest);
  if (!fetch_signed_text(app, key, sums_address, sums_name, announced, text)) {
    return install_failed(app);
  }
  if (!text) return true;
  std::string error;
  std::optional<Sums> read = parse_sums(*text, error);
  if (!read) return install_failed(app) || refuse(app, sums_name, error);
  const ExpectedRelease expected{package, manifest ? sha256_hex(*manifest) : std::string(),
                                 read_version_label(app, manifest_path),
                                 installed_serial(app, record_name), key.has_value()};
  if (const auto why = sums_refusal(*read, expected)) {
    return install_failed(app) || refuse(app, sums_name, *why);
  }
  sums = std::move(read);
  return true;
}

std::optional<FileSum> sum_of_entry(App& app, const Sums& sums, const ManifestEntry& entry,
                                    const std::string& manifest_path) {
  const auto sum = sums.files.find(sums_key(entry.remote_path));
  if (sum != sums.files.end()) return sum->second;
  (void)refuse(app, manifest_path, "its sums give no sum for \"" + entry.remote_path + "\"");
  return std::nullopt;
}

EntryList entries_still_released(const Sums& sums, const EntryList& entries) {
  EntryList kept;
  kept.reserve(entries.size());
  for (const ManifestEntry& entry : entries) {
    if (sums.files.contains(sums_key(entry.remote_path))) kept.push_back(entry);
  }
  return kept;
}

std::vector<CodedDownload> coded_downloads(App& app, const Sums& sums, const std::string& key,
                                           const std::string& address,
                                           const std::string& installed) {
  std::vector<CodedDownload> coded;
  const auto patches = sums.patches.find(key);
  if (patches != sums.patches.end() && app.files().kind(installed) == Files::Kind::file) {
    const std::optional<FileSum> there = file_sum(app.files().native_path(installed));
    for (const PatchSum& patch : patches->second) {
      if (!there || there->sha256 != patch.base_sha256) continue;
      const std::string suffix = patch_suffix(patch.base_sha256);
      coded.push_back({address + suffix, body_check(patch.sum, key + suffix), installed});
      break;
    }
  }
  const auto compressed = sums.compressed.find(key);
  if (compressed != sums.compressed.end()) {
    const std::string suffix(kCompressedSuffix);
    coded.push_back({address + suffix, body_check(compressed->second, key + suffix)});
  }
  return coded;
}

}  // namespace tarvel
