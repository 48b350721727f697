#include "update/verify.hpp"

#include "core/app.hpp"
#include "update/download.hpp"
#include "update/manifest.hpp"
#include "update/sums.hpp"

namespace tarvel {
namespace {

struct Listed {
  std::string local_path;
  InstalledFile file;
};

// Every file the records list, record by record, in path order.
std::vector<Listed> listed_files(App& app, std::size_t& records) {
  std::vector<Listed> listed;
  const std::string directory = app.settings().application_directory();
  for (const Files::Entry& entry : app.files().list(directory)) {
    if (entry.kind != Files::Kind::file || !entry.name.ends_with(kInstalledSuffix)) continue;
    const auto text = app.files().read(directory + entry.name);
    const auto record = text ? parse_installed_record(*text) : std::nullopt;
    if (!record) continue;
    ++records;
    for (const auto& [path, file] : record->files) listed.push_back({path, file});
  }
  return listed;
}

std::optional<BrokenFile> check_file(App& app, const Listed& listed) {
  const std::string path = app.settings().application_directory() + listed.local_path;
  const Files::Kind kind = app.files().kind(path);
  BrokenFile broken{listed.local_path, listed.file, BrokenFile::Problem::missing};
  if (kind == Files::Kind::missing) return broken;
  broken.problem = BrokenFile::Problem::changed;
  if (kind != Files::Kind::file) return broken;
  const std::optional<FileSum> sum = file_sum(app.files().native_path(path));
  if (!sum || *sum != listed.file.sum) return broken;
  return std::nullopt;
}

}  // namespace

std::uint64_t TreeReport::repair_bytes() const {
  std::uint64_t total = 0;
  for (const BrokenFile& file : broken) total += file.file.sum.size;
  return total;
}

TreeReport verify_installed_tree(App& app, const ProgressReport& progress) {
  TreeReport report;
  const std::vector<Listed> listed = listed_files(app, report.records);
  for (const Listed& file : listed) {
    if (auto broken = check_file(app, file)) report.broken.push_back(std::move(*broken));
    report.bytes += file.file.sum.size;
    ++report.files;
    if (progress) progress(report.files, listed.size());
  }
  return report;
}

std::vector<BrokenFile> repair_installed_tree(App& app, const TreeReport& report) {
  const std::string directory = app.settings().application_directory();
  std::vector<FileDownload> downloads;
  for (const BrokenFile& file : report.broken) {
    // A folder deleted with its files is made again.
    const auto separator = file.local_path.find_last_of('\\');
    if (separator != std::string::npos) {
      create_target_folders(app, file.local_path.substr(0, separator + 1));
    }
    downloads.push_back(
        {file.file.address, directory + file.local_path,
         body_check(file.file.sum, file.local_path)});
  }
  app.settings().locked([&](SettingsValues& v) {
    v.item_count = static_cast<int>(downloads.size());
    v.item_index = 0;
  });
  // A failed download stops the list; the check afterwards tells what is
  // still broken either way.
  (void)download_files(app, downloads);
  std::vector<BrokenFile> still;
  for (const BrokenFile& file : report.broken) {
    if (auto broken = check_file(app, {file.local_path, file.file})) still.push_back(*broken);
  }
  return still;
}

}  // namespace tarvel
