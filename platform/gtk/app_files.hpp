#pragma once

#include <string>
#include <string_view>

namespace tarvel {

// Where a name asked for inside a folder leads.
struct InsideFile {
  enum class Verdict {
    found,    // an existing regular file inside the folder: path
    missing,  // nothing there (or not a regular file)
    outside,  // the name leaves the folder, by "..", or by a link that points out
  };
  Verdict verdict = Verdict::missing;
  std::string path;  // the file's real path when found
};

// Finds a file by a relative name inside root (an existing folder). "\" and
// "/" both separate names; empty and "." names are skipped. A ".." name, or a
// link whose target lies outside root, is refused rather than followed.
[[nodiscard]] InsideFile find_inside(const std::string& root, std::string_view name);

// How a screen's movie path is played.
struct MovieChoice {
  enum class Kind {
    html,     // the HTML5 movie beside the .swf, as a page
    flash,    // the .swf itself, in the Flash emulator
    missing,  // nothing playable: the screen stays blank
  };
  Kind kind = Kind::missing;
  // The movie's name inside the application directory, "/"-separated.
  std::string relative;
};

// "x.swf" plays as the HTML5 movie "x.html" when that file is there, and as
// itself otherwise; any other existing file plays as what its suffix says.
// A path outside the application directory plays nothing.
[[nodiscard]] MovieChoice choose_movie(const std::string& application_directory,
                                       std::string_view movie_path);

// The MIME type a movie's files are served with, by suffix.
[[nodiscard]] std::string content_type_of(std::string_view name);

}  // namespace tarvel
