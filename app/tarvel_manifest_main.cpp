// tarvel-manifest: writes a package's installation and update manifests
// from its folder, for an operator to publish on a download server.
#include <sys/stat.h>

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "core/failure_words.hpp"
#include "operator/command_line.hpp"
#include "operator/launcher_release.hpp"
#include "operator/package_release.hpp"
#include "operator/signing.hpp"
#include "operator/tree_check.hpp"
#include "platform/posix/posix_files.hpp"
#include "tarvel_version.hpp"

namespace {

using namespace tarvel;

constexpr const char* kUsage =
    "usage: tarvel-manifest --package NAME [--group GROUP] --version LABEL [--mandatory LABEL]\n"
    "                       [--source PATH] [--target FOLDER] [--out DIR] [--sign KEY]\n"
    "                       PACKAGE_DIR\n"
    "       tarvel-manifest --launcher [--sign KEY] DIR\n"
    "       tarvel-manifest keygen [--out DIR]\n"
    "       tarvel-manifest check --tree TREE [--served-at URL] CLIENT_DIR\n"
    "       tarvel-manifest --help | --version\n"
    "\n"
    "Writes GROUP_NAME_install.xml (every file of PACKAGE_DIR), GROUP_NAME_update.xml (the\n"
    "previous update manifest, then the header $version-LABEL and every file new or changed\n"
    "since the previous release), a .sums file beside each (the SHA-256 and size of every\n"
    "file, the manifest's SHA-256, the version and a serial that grows with each release) and\n"
    "GROUP_NAME.state (what the next release compares with) into DIR, by default the folder\n"
    "that holds PACKAGE_DIR.\n"
    "\n"
    "--launcher: writes DIR/setup.xml.sums for the launcher's release served from DIR (the\n"
    "program that setup.xml's exe_name names, and Config.xml).\n"
    "keygen: writes a signing key pair, update-key (secret) and update-key.pub, into DIR\n"
    "(default: the current folder); launchers take the public key as <UpdateKey> in Config.xml.\n"
    "check: walks what a launcher starting with CLIENT_DIR's setup.xml, Config.xml and\n"
    "app-popup/abb_language.xml would fetch from TREE, in every language of the list, and\n"
    "names each missing or inconsistent piece by the address the launcher would ask for.\n"
    "Exits with 1 when anything is wrong.\n"
    "\n"
    "  --sign KEY         also write a .sig beside each .sums file, signed with the private\n"
    "                     key in the file KEY\n"
    "  --group GROUP      first part of the manifest names: common (games), update (login),\n"
    "                     a language code (language packs); none for the common package\n"
    "  --version LABEL    this release, for example 1.2\n"
    "  --mandatory LABEL  makes this release a mandatory update (header $versionm-LABEL)\n"
    "  --source PATH      where launchers fetch the folder: a path under the url setting's\n"
    "                     address, or under common_url / game_url when it starts with COMMON/ /\n"
    "                     GAMES/ (default: the folder's own name)\n"
    "  --target FOLDER    where the files go, relative to the application directory\n"
    "                     (default: the application directory itself)\n"
    "  --out DIR          where the manifests go (keygen: the key pair)\n"
    "  --tree TREE        check: the operator tree, as the download server serves it\n"
    "  --served-at URL    check: the address TREE is served at (default: the root of the\n"
    "                     server that setup.xml's url names)\n"
    "  --help             show this\n"
    "  --version          alone: show the program's version\n";

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
    std::printf("%s: %s is already published with these files; %s\n",
                result.update_name.c_str(), result.version_header.c_str(),
                result.sums_renewed ? "its sums now name their package (serial kept)"
                                    : "nothing written");
    return;
  }
  std::printf("%s: %s, %s, serial %llu\n", result.install_name.c_str(),
              result.version_header.c_str(),
              counted(static_cast<std::size_t>(result.files), "file").c_str(),
              static_cast<unsigned long long>(result.serial));
  if (result.first_release) {
    std::printf("%s: %s starts the history\n", result.update_name.c_str(),
                result.version_header.c_str());
  } else {
    std::printf("%s: %s lists %zu new or changed %s\n", result.update_name.c_str(),
                result.version_header.c_str(), result.changed.size(),
                result.changed.size() == 1 ? "file" : "files");
  }
  for (const std::string& path : result.removed) {
    std::printf("  gone since the previous release (stays on players' machines): %s\n",
                path.c_str());
  }
}

constexpr const char* kPrivateKeyName = "update-key";
constexpr const char* kPublicKeySuffix = ".pub";

int keygen(const std::string& out_dir) {
  const std::optional<KeyPair> pair = generate_key_pair();
  if (!pair) {
    std::fprintf(stderr, "tarvel-manifest: no key pair could be made\n");
    return 1;
  }
  PosixFiles files(current_directory());
  const std::string secret = out_dir + "/" + kPrivateKeyName;
  if (files.kind(secret) != Files::Kind::missing) {
    std::fprintf(stderr, "tarvel-manifest: %s exists; move it away to make a new key\n",
                 secret.c_str());
    return 1;
  }
  // The secret key is readable by its owner only, from its first byte on.
  const mode_t previous = ::umask(077);
  const bool written = files.write(secret, pair->private_key + "\n");
  ::umask(previous);
  if (!written || !files.write(secret + kPublicKeySuffix, pair->public_key + "\n")) {
    std::fprintf(stderr, "tarvel-manifest: cannot write %s\n", secret.c_str());
    return 1;
  }
  std::printf(
      "%s: the signing key; keep it secret and off the download server\n"
      "%s%s: the public key; in each launcher's Config.xml:\n  <UpdateKey>%s</UpdateKey>\n",
      secret.c_str(), secret.c_str(), kPublicKeySuffix, pair->public_key.c_str());
  return 0;
}

// The signing key from the file --sign names; "" when none was asked for.
bool read_signing_key(const CommandLine& line, std::string& key) {
  if (!line.has("--sign")) return true;
  PosixFiles files(current_directory());
  const auto text = files.read(line.value("--sign"));
  if (!text) {
    std::fprintf(stderr, "tarvel-manifest: %s: cannot be read\n", line.value("--sign").c_str());
    return false;
  }
  key = *text;
  while (!key.empty() && (key.back() == '\n' || key.back() == '\r')) key.pop_back();
  if (public_key_of(key)) return true;
  std::fprintf(stderr, "tarvel-manifest: %s: not a signing key made by keygen\n",
               line.value("--sign").c_str());
  return false;
}

int launcher(const CommandLine& line, const std::string& key) {
  if (line.arguments.size() != 1) return usage("--launcher takes one DIR");
  PosixFiles files(current_directory());
  const LauncherSumsResult result = publish_launcher_sums(files, line.arguments[0], key);
  if (!result.ok()) {
    std::fprintf(stderr, "tarvel-manifest: nothing written:\n");
    for (const std::string& problem : result.problems)
      std::fprintf(stderr, "  %s\n", problem.c_str());
    return 1;
  }
  std::printf("setup.xml.sums: %s, serial %llu, %s%s\n", result.version.c_str(),
              static_cast<unsigned long long>(result.serial),
              counted(result.files.size(), "file").c_str(), key.empty() ? "" : ", signed");
  return 0;
}

int check(const CommandLine& line) {
  if (line.arguments.size() != 2) return usage("check takes one CLIENT_DIR");
  if (!line.has("--tree")) return usage("check needs --tree TREE");
  PosixFiles files(current_directory());
  const TreeCheckResult result = check_operator_tree(
      files, {line.arguments[1], line.value("--tree"), line.value("--served-at")});
  for (const std::string& problem : result.problems) std::printf("%s\n", problem.c_str());
  std::string languages;
  for (const std::string& language : result.languages) {
    languages += (languages.empty() ? "" : ", ") + language;
  }
  std::printf("checked %s and %s in %s (%s): %s\n", counted(result.manifests, "manifest").c_str(),
              counted(result.files, "file").c_str(), counted(result.languages.size(), "language").c_str(),
              languages.c_str(),
              result.ok() ? "all there" : counted(result.problems.size(), "problem").c_str());
  return result.ok() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  // Alone, --version asks for the program's; with a label it names a release.
  if (argc == 2 && std::string_view(argv[1]) == "--version") {
    std::printf("tarvel-manifest %s\n", kTarvelVersion);
    return 0;
  }
  const CommandLine line = parse_command_line(argc, argv,
                                              {"--package", "--group", "--version", "--mandatory",
                                               "--source", "--target", "--out", "--sign", "--tree",
                                               "--served-at"},
                                              {"--help", "-h", "--launcher"});
  if (line.has("--help") || line.has("-h")) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (!line.error.empty()) return usage(line.error);
  const std::string command = line.arguments.empty() ? "" : line.arguments[0];
  if (command == "check") return check(line);
  if (command == "keygen") {
    if (line.arguments.size() != 1) return usage("keygen takes no further arguments");
    return keygen(line.value("--out", "."));
  }
  std::string key;
  if (!read_signing_key(line, key)) return 1;
  if (line.has("--launcher")) return launcher(line, key);
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
                         .out_dir = line.value("--out", parent_folder(package_dir)),
                         .signing_key = key};
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
