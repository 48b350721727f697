#include "platform/posix/user_folders.hpp"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace tarvel {

std::string environment_path(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && value[0] == '/' ? value : "";
}

std::string home_directory() {
  std::string home = environment_path("HOME");
  if (home.empty()) {
    if (const passwd* entry = ::getpwuid(::getuid()); entry != nullptr && entry->pw_dir != nullptr)
      home = entry->pw_dir;
  }
  return home;
}

std::string user_data_directory() {
  if (std::string data = environment_path("XDG_DATA_HOME"); !data.empty()) return data;
  const std::string home = home_directory();
  return home.empty() ? "" : home + "/.local/share";
}

bool make_user_folders(const std::string& path) {
  for (std::size_t slash = path.find('/', 1); slash != std::string::npos;
       slash = path.find('/', slash + 1)) {
    (void)::mkdir(path.substr(0, slash).c_str(), 0700);
  }
  if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return false;
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace tarvel
