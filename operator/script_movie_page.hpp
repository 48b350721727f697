#pragma once

#include <string>
#include <string_view>

namespace tarvel {

// An HTML5 movie page that plays a movie script (docs/movie-scripts.md) the
// way the headless screens do: the same rules fire on the same received
// texts and times, through the movie bridge of the real windows. The page
// shows its title and every line it receives and sends, so a person
// watching the windows can follow the run. Placed beside the script's .swf
// (login.html beside login.swf), it lets one client tree play by itself
// both headless and in windows.
[[nodiscard]] std::string script_movie_page(std::string_view title, std::string_view script);

}  // namespace tarvel
