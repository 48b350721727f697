#pragma once

#include <string>

namespace tarvel {

// The file work the self-update hands to the system: a few named operations
// rather than command lines, so that no name coming from a server or a
// directory listing can ever be read as a command. Paths are written the
// launcher's way and resolve like those of Files.
//
// An implementation may start the work and return before it is done (the
// Windows one starts hidden command interpreters and does not wait); it then
// answers true for "started".
class Shell {
 public:
  virtual ~Shell() = default;

  // Deletes one file, read-only or not. A symbolic link is removed itself,
  // never what it points to; a folder is left alone. True when no file is
  // left at the path.
  virtual bool force_delete_file(const std::string& path) = 0;

  // Removes a folder and everything inside it. Links met on the way are
  // removed, never followed, so nothing outside the folder is touched. A path
  // naming a plain file is left alone. True when nothing is left at the path.
  virtual bool remove_folder_tree(const std::string& path) = 0;

  // Moves a file over another in one step, replacing the target.
  virtual bool move_replacing(const std::string& from, const std::string& to) = 0;

  // Lets the file be run as a program (rwxr-xr-x where the system has modes).
  virtual bool mark_executable(const std::string& path) = 0;
};

}  // namespace tarvel
