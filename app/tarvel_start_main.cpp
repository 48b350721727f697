// The command a brand's package installs as <prefix>/bin/<brand>. The
// launcher rewrites its own program file when it updates itself, so it cannot
// run from the package: this command gives each player a client folder of
// their own ($XDG_DATA_HOME/<brand>), made from the package's client on the
// first start, keeps the launcher in it at least as new as the package's,
// and starts it there. Where the package's files lie follows from where this
// program lies: <prefix>/share/<brand>/client and <prefix>/lib/<brand>/.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/posix/posix_files.hpp"
#include "platform/posix/posix_shell.hpp"
#include "platform/posix/program_start.hpp"
#include "platform/posix/user_folders.hpp"
#include "tarvel_version.hpp"
#include "update/player_folder.hpp"

using namespace tarvel;

namespace {

constexpr const char* kLauncherFile = "tarvel";
constexpr const char* kCleanerFile = "menrik";
// A launcher that has not said its version by then is taken not to know it.
constexpr auto kVersionLimit = std::chrono::seconds(10);

// The brand is this program's own file name; the prefix the folder above
// the one it lies in.
struct Layout {
  std::string brand;
  std::string prefix;
};

Layout own_layout() {
  const std::string self = executable_path();
  const auto slash = self.rfind('/');
  if (slash == std::string::npos || slash == 0) return {};
  const std::string bin = self.substr(0, slash);
  return {self.substr(slash + 1), bin.substr(0, bin.rfind('/'))};
}

void print_usage(const char* brand, const std::string& folder) {
  std::printf(
      "usage: %s [--headless | --console | --verify | --repair]\n"
      "       %s --cleaner [--headless | --console]\n"
      "       %s --uninstall\n"
      "\n"
      "Starts the launcher in your own client folder, %s,\n"
      "which the first start makes from the package's client. The launcher updates\n"
      "itself and the games there; nothing of the package is ever written.\n"
      "\n"
      "  --cleaner    start the cache cleaner in that folder instead\n"
      "  --uninstall  remove that folder with everything in it; the package stays\n"
      "               installed (remove it with your package manager)\n"
      "  --help       show this and end\n"
      "  --version    show the version and end\n"
      "Every other option goes to the launcher (or the cleaner).\n",
      brand, brand, brand, folder.c_str());
}

int uninstall(Files& files, Shell& shell, const std::string& brand, const std::string& folder) {
  if (!remove_player_folder(files, shell, folder)) {
    std::fprintf(stderr, "%s: could not remove all of %s\n", brand.c_str(), folder.c_str());
    return 1;
  }
  std::printf("%s: removed %s; the package stays installed\n", brand.c_str(), folder.c_str());
  return 0;
}

// A folder the player moved elsewhere and linked back is used where it is.
// (--uninstall takes the path as it stands: it removes a link, never what
// the link points to.)
std::string followed(const std::string& path) {
  std::error_code error;
  const std::filesystem::path resolved = std::filesystem::weakly_canonical(path, error);
  return error ? path : resolved.string();
}

std::optional<std::string> ask_version(const std::string& program) {
  return first_output_line(program, {program, "--version"}, kVersionLimit);
}

// Readies the player's folder and becomes the launcher (or the cleaner) there.
int start_in_folder(const Layout& layout, std::vector<std::string> passed, Files& files,
                    Shell& shell, const std::string& folder) {
  const char* brand = layout.brand.c_str();
  const std::string lib = layout.prefix + "/lib/" + layout.brand + "/";
  const PackagedClient package{layout.prefix + "/share/" + layout.brand + "/client",
                               lib + kLauncherFile, kTarvelVersion};
  const PlayerFolder prepared = prepare_player_folder(files, shell, package, folder, ask_version);
  for (const std::string& note : prepared.notes) {
    std::fprintf(stderr, "%s: %s\n", brand, note.c_str());
  }
  if (!prepared.error.empty()) {
    std::fprintf(stderr, "%s: %s\n", brand, prepared.error.c_str());
    return 1;
  }
  const bool cleaner = !passed.empty() && passed[0] == "--cleaner";
  if (cleaner) passed.erase(passed.begin());
  // Known by the brand's name: the windows take their class from it, which
  // is how the desktop matches them with the menu entry.
  std::vector<std::string> arguments{layout.brand};
  arguments.insert(arguments.end(), passed.begin(), passed.end());
  const std::string failure =
      run_in_folder(folder, cleaner ? lib + kCleanerFile : prepared.launcher, arguments);
  std::fprintf(stderr, "%s: cannot start %s\n", brand, failure.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  const Layout layout = own_layout();
  if (layout.brand.empty()) {
    std::fprintf(stderr, "tarvel-start: cannot tell where this program lies\n");
    return 1;
  }
  const char* brand = layout.brand.c_str();
  std::vector<std::string> passed(argv + 1, argv + argc);
  const std::string data = user_data_directory();
  const std::string folder = data + "/" + layout.brand;
  const std::string one = passed.size() == 1 ? passed[0] : "";
  if (one == "--help") {
    print_usage(brand, folder);
    return 0;
  }
  if (one == "--version") {
    std::printf("%s (Tarvel) %s\n", brand, kTarvelVersion);
    return 0;
  }
  PosixFiles files(data);
  PosixShell shell(files);
  if (!data.empty() && one == "--uninstall") return uninstall(files, shell, layout.brand, folder);
  if (data.empty() || !make_user_folders(data)) {
    std::fprintf(stderr, "%s: no folder for your files: set HOME (or XDG_DATA_HOME)\n", brand);
    return 1;
  }
  return start_in_folder(layout, std::move(passed), files, shell, followed(folder));
}
