#pragma once

#include <string>
#include <vector>

#include "platform/clock.hpp"

namespace tarvel {

class App;

// Name under which the server's copy of setup.xml is kept.
inline constexpr const char* kServerSettingsCopyName = "glo_stp.xml";

// Release kinds the server's settings copy can name.
inline constexpr const char* kReleaseFlash = "flash";  // purge the client tree
inline constexpr const char* kReleaseExe = "exe";      // replace the launcher
inline constexpr const char* kReleaseFull = "full";    // both

// The record of the launcher's own release (its serial), beside it.
inline constexpr const char* kLauncherRecordName = "launcher.installed";

inline constexpr const char* kRestartMessage =
    "Please Run the Application again...New Updates Installed";
inline constexpr const char* kRestartCaption = "Message";

// Names of a folder's entries, told apart by name alone: a name holding "."
// is a file, any other a folder (whatever the disk says).
struct DirectoryListing {
  std::vector<std::string> files;
  std::vector<std::string> folders;
};

[[nodiscard]] DirectoryListing list_directory(App& app, const std::string& directory);

// Keep rules of the purge. A file stays when it is a program, library or data
// file (shared libraries of this system included: ".so", ".so.N"), one of the
// three settings files, or the launcher itself.
[[nodiscard]] bool purge_keeps_file(const std::string& name, const std::string& exe_name);
// A folder stays when its name holds "-" or it is App_Images or XMLFile.
[[nodiscard]] bool purge_keeps_folder(const std::string& name);

// exe_name + "_" + year, month, day, minute and second (UTC, decimal, no
// leading zeros, no hour), each after a "_": Tarvel.exe_2017_3_5_7_9. The
// start-up cleanup removes every name of this shape.
[[nodiscard]] std::string backup_name(const std::string& exe_name, const UtcTime& now);

// Fetches the server's settings copy as "glo_stp.xml" and answers its version
// type when its version line differs from the version setting, else "".
[[nodiscard]] std::string check_launcher_update(App& app);

// Applies a launcher release: "flash" purges, "exe" replaces the executable,
// the settings file and Config.xml, "full" does both, anything else nothing.
// Always true; after a replacement the restart pending flag says whether it
// worked (1) or not (0).
bool apply_launcher_update(App& app, const std::string& version_type);

}  // namespace tarvel
