#include "platform/headless/console_movie.hpp"

#include <algorithm>
#include <charconv>

#include "flash/codec.hpp"
#include "platform/headless/headless_ui.hpp"
#include "platform/headless/recording_movie.hpp"

namespace tarvel {
namespace {

using Kind = TranscriptEntry::Kind;

constexpr std::string_view kProgressPrefix = "progress=";
constexpr std::size_t kBarWidth = 30;

std::string screen_of(const TranscriptEntry& entry) {
  return "[" + (entry.screen.empty() ? std::string("launcher") : entry.screen) + "] ";
}

// The file name at the end of a movie path, whichever separator it uses.
std::string file_name(const std::string& path) {
  const auto at = path.find_last_of("\\/");
  return at == std::string::npos ? path : path.substr(at + 1);
}

// Received texts run over lines (a game status document does); the lines
// after the first are indented under it.
std::string indented(const std::string& text) {
  std::string out;
  for (const char c : text) {
    out += c;
    if (c == '\n') out += "    ";
  }
  while (!out.empty() && (out.back() == ' ' || out.back() == '\n')) out.pop_back();
  return out;
}

bool read_count(std::string_view text, int& out) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), out);
  return error == std::errc() && end == text.data() + text.size() && out >= 0;
}

// What a person reads for an entry, "" for those only a transcript wants
// (sizes, timers, titles, keys).
std::string describe(const TranscriptEntry& entry) {
  const std::string screen = screen_of(entry);
  switch (entry.kind) {
    case Kind::window:
      if (entry.text.starts_with("shown")) return screen + "opens";
      if (entry.text == "destroyed") return screen + "closes";
      if (entry.text.starts_with("message loop gave up")) return screen + entry.text;
      return {};
    case Kind::movie:
      if (entry.text.starts_with("load")) return screen + "plays " + file_name(entry.argument);
      if (entry.text.starts_with("missing")) return screen + "has no movie: it stays blank";
      return {};
    case Kind::received:
      return screen + "<- " + indented(entry.text);
    case Kind::command:
      return screen + "-> command " + entry.text +
             (entry.argument.empty() ? "" : " " + entry.argument);
    case Kind::call: {
      const ParsedRequest call = parse_request(widen(entry.text));
      std::string text = screen + "-> call " + call.name;
      for (const std::string& argument : call.arguments) text += " " + argument;
      return text;
    }
    case Kind::message_box:
      return screen + "message box \"" + entry.argument + "\": " + entry.text;
    case Kind::browser:
      return screen + entry.text;
    case Kind::key:
      return {};
  }
  return {};
}

}  // namespace

class ConsoleMovieHost::Movie final : public RecordingMovie {
 public:
  Movie(ConsoleMovieHost& host, HeadlessUi& ui, WindowId window, MovieEvents& events)
      : RecordingMovie(ui, window, events), host_(host) {
    host_.movies_.push_back(this);
  }
  ~Movie() override { std::erase(host_.movies_, static_cast<RecordingMovie*>(this)); }

 private:
  ConsoleMovieHost& host_;
};

std::unique_ptr<MovieControl> ConsoleMovieHost::create(HeadlessUi& ui, WindowId window,
                                                       MovieEvents& events) {
  ui.record(window, Kind::movie, "console movie control created");
  return std::make_unique<Movie>(*this, ui, window, events);
}

const char* ConsoleMovieHost::help() {
  return "Type what the movie of the screen in front sends, then Enter:\n"
         "  command NAME [ARGUMENT]   a command, for example: command exit, command retry\n"
         "  call NAME [TEXT...]       a request, for example: call validate demo demo en\n"
         "  Quote a text with spaces (\"player one\"). Ctrl+C ends the program.";
}

std::string ConsoleMovieHost::type(HeadlessUi& ui, std::string_view line) {
  while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.remove_suffix(1);
  while (!line.empty() && line.front() == ' ') line.remove_prefix(1);
  if (line.empty()) return {};
  if (line == "help") return help();
  MovieRule rule;
  if (const char* problem = parse_movie_action(line, rule)) {
    // Appended piece by piece: GCC 12 at -O3 warns falsely about a chain of +.
    std::string answer = "\"";
    answer.append(line);
    answer += "\": ";
    answer += problem;
    answer += " (type help)";
    return answer;
  }
  RecordingMovie* target = nullptr;
  for (RecordingMovie* movie : movies_) {
    if (!ui.exists(movie->window())) continue;
    if (target == nullptr || target->window() != ui.active_window()) target = movie;
  }
  if (target == nullptr) return "no screen is open to send that";
  target->send(rule);
  return {};
}

std::string ConsoleView::progress_bar(std::string_view text) {
  if (text.starts_with(kProgressPrefix)) text.remove_prefix(kProgressPrefix.size());
  const auto first = text.find(',');
  const auto second = first == std::string_view::npos ? first : text.find(',', first + 1);
  int index = 0;
  int count = 0;
  if (second == std::string_view::npos || !read_count(text.substr(0, first), index) ||
      !read_count(text.substr(first + 1, second - first - 1), count) || count == 0) {
    return {};
  }
  const auto filled = std::min<std::size_t>(
      kBarWidth, static_cast<std::size_t>(index) * kBarWidth / static_cast<std::size_t>(count));
  std::string rest(text.substr(second + 1));
  std::replace(rest.begin(), rest.end(), ',', ' ');
  // Appended piece by piece: GCC 12 at -O3 warns falsely about a chain of +.
  std::string bar = "[";
  bar.append(filled, '#');
  bar.append(kBarWidth - filled, '.');
  bar += "] ";
  bar += std::to_string(index);
  bar += '/';
  bar += std::to_string(count);
  bar += ' ';
  bar += rest;
  return bar;
}

void ConsoleView::add(const TranscriptEntry& entry) {
  if (entry.kind == Kind::received) {
    const std::string bar = progress_bar(entry.text);
    if (!bar.empty()) {
      const std::string text = screen_of(entry) + bar;
      std::lock_guard lock(mutex_);
      // Over the previous bar, padded so a shorter one leaves nothing behind.
      std::fprintf(
          stream_, "\r%s%s", text.c_str(),
          std::string(bar_length_ > text.size() ? bar_length_ - text.size() : 0, ' ').c_str());
      std::fflush(stream_);
      bar_length_ = text.size();
      return;
    }
  }
  const std::string text = describe(entry);
  if (!text.empty()) line(text);
}

void ConsoleView::note(const std::string& text) { line(text); }

void ConsoleView::line(const std::string& text) {
  std::lock_guard lock(mutex_);
  std::fprintf(stream_, "%s%s\n", bar_length_ > 0 ? "\n" : "", text.c_str());
  std::fflush(stream_);
  bar_length_ = 0;
}

}  // namespace tarvel
