#pragma once

#include <string>

#include "core/app.hpp"

namespace tarvel {

// A first installation fetches the installation manifest under this prefix
// and gives it its own name only when every file it lists has arrived, so
// the manifest's presence always means "installed".
inline constexpr const char* kFirstInstallPrefix = "temp_";

inline constexpr const char* kInstallKind = "install";
inline constexpr const char* kUpdateKind = "update";

// Whether the file can be opened for reading: how the installers tell an
// installed package from a new one.
[[nodiscard]] inline bool can_be_opened(App& app, const std::string& path) {
  return app.files().read(path).has_value();
}

// True for a name that is one file of the application directory itself: no
// folder part, no drive, nothing that leaves the folder. Manifest names are
// built from settings and package names that a server can influence.
[[nodiscard]] inline bool is_plain_file_name(const std::string& name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find_first_of("\\/:") == std::string::npos;
}

}  // namespace tarvel
