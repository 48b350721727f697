// tarvel-manifest: writes a package's installation and update manifests
// from its folder, for an operator to publish on a download server.
#include <cstdio>
#include <string>

#include "operator/command_line.hpp"
#include "operator/package_release.hpp"
#include "platform/posix/posix_files.hpp"

namespace {

using namespace tarvel;

constexpr const char* kUsage =
    "usage: tarvel-manifest --package NAME [--group GROUP] --version LABEL [--mandatory LABEL]\n"
    "                       [--source PATH] [--target FOLDER] [--out DIR] PACKAGE_DIR\n"
    "\n"
    "Writes GROUP_NAME_install.xml (every file of PACKAGE_DIR), GROUP_NAME_update.xml (the\n"
    "previous update manifest, then the header $version-LABEL and every file new or changed\n"
    "since the previous release) and GROUP_NAME.state (what the next release compares with)\n"
    "into DIR, by default the folder that holds PACKAGE_DIR.\n"
    "\n"
    "  --group GROUP      first part of the manifest names: common (games), update (login),\n"
    "                     a language code (language packs); none for the common package\n"
    "  --version LABEL    this release, for example 1.2\n"
    "  --mandatory LABEL  makes this release a mandatory update (header $versionm-LABEL)\n"
    "  --source PATH      where launchers fetch the folder: a path under the url setting's\n"
    "                     address, or under common_url / game_url when it starts with COMMON/ /\n"
    "                     GAMES/ (default: the folder's own name)\n"
    "  --target FOLDER    where the files go, relative to the application directory\n"
    "                     (default: the application directory itself)\n";

std::string folder_name(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string parent_folder(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  const auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

int usage(const std::string& error) {
  std::fprintf(stderr, "tarvel-manifest: %s\n%s", error.c_str(), kUsage);
  return 2;
}

void report(const ReleaseResult& result) {
  if (result.already_published) {
    std::printf("%s: %s is already published with these files; nothing written\n",
                result.update_name.c_str(), result.version_header.c_str());
    return;
  }
  std::printf("%s: %s, %d files\n", result.install_name.c_str(), result.version_header.c_str(),
              result.files);
  if (result.first_release) {
    std::printf("%s: %s starts the history\n", result.update_name.c_str(),
                result.version_header.c_str());
  } else {
    std::printf("%s: %s lists %zu new or changed files\n", result.update_name.c_str(),
                result.version_header.c_str(), result.changed.size());
  }
  for (const std::string& path : result.removed) {
    std::printf("  gone since the previous release (stays on players' machines): %s\n",
                path.c_str());
  }
}

}  // namespace

int main(int argc, char** argv) {
  const CommandLine line = parse_command_line(
      argc, argv,
      {"--package", "--group", "--version", "--mandatory", "--source", "--target", "--out"},
      {"--help"});
  if (line.has("--help")) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (!line.error.empty()) return usage(line.error);
  if (line.arguments.size() != 1) return usage("give one PACKAGE_DIR");
  if (!line.has("--package") || !line.has("--version"))
    return usage("--package and --version are needed");
  const std::string directory = current_directory();
  if (directory.empty()) return usage("cannot read the current directory");

  const std::string package_dir = line.arguments[0];
  PackageRelease release{.group = line.value("--group"),
                         .package = line.value("--package"),
                         .version = line.value("--version"),
                         .mandatory = line.value("--mandatory"),
                         .source = line.value("--source", folder_name(package_dir)),
                         .target = line.value("--target"),
                         .package_dir = package_dir,
                         .out_dir = line.value("--out", parent_folder(package_dir))};
  PosixFiles files(directory);
  const ReleaseResult result = publish_package(files, release);
  if (!result.ok()) {
    std::fprintf(stderr, "tarvel-manifest: nothing written:\n");
    for (const std::string& problem : result.problems) {
      std::fprintf(stderr, "  %s\n", problem.c_str());
    }
    return 1;
  }
  report(result);
  return 0;
}
