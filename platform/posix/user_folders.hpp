#pragma once

#include <string>

namespace tarvel {

// The value of an environment variable when it holds an absolute path, else
// "": the base directory rules take a relative path for no path at all.
[[nodiscard]] std::string environment_path(const char* name);

// $HOME, or the user's entry in the password database when HOME is unset.
[[nodiscard]] std::string home_directory();

// Where programs keep the user's own data: $XDG_DATA_HOME, by default
// ~/.local/share. "" when neither it nor a home folder is known.
[[nodiscard]] std::string user_data_directory();

// Makes the folder and any missing folder above it, each private to the user
// (0700), as the base directory rules ask of folders made on their behalf.
// True when it is a folder afterwards.
[[nodiscard]] bool make_user_folders(const std::string& path);

}  // namespace tarvel
