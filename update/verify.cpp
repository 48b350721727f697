#include "update/verify.hpp"

#include "core/app.hpp"
#include "update/install_journal.hpp"
#include "update/manifest.hpp"
#include "update/package_install.hpp"
#include "update/sums.hpp"

namespace tarvel {
namespace {

// What a repair's journal is named after.
constexpr const char* kRepairName = "repair";

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
  InstallPlan plan;
  for (const BrokenFile& file : report.broken) {
    // A folder deleted with its files is made again.
    const auto separator = file.local_path.find_last_of('\\');
    const std::string folder = file.local_path.substr(0, separator + 1);
    if (separator != std::string::npos && stays_inside(folder)) {
      for (std::string& prefix : target_folder_prefixes(folder)) {
        plan.folders.push_back(std::move(prefix));
      }
    }
    plan.files.push_back({.address = file.file.address,
                          .target = directory + file.local_path,
                          .name = file.local_path,
                          .sum = file.file.sum});
  }
  app.settings().locked([&](SettingsValues& v) {
    v.item_count = static_cast<int>(plan.files.size());
    v.item_index = 0;
  });
  // A repair changes the files it mends all at once, or none of them; the
  // check afterwards tells what is still broken either way.
  (void)(plan_transfers(app, plan, false) && fetch_planned(app, plan) &&
         commit_planned(app, journal_name(kRepairName), plan));
  std::vector<BrokenFile> still;
  for (const BrokenFile& file : report.broken) {
    if (auto broken = check_file(app, {file.local_path, file.file})) still.push_back(*broken);
  }
  return still;
}

}  // namespace tarvel
