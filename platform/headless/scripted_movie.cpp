#include "platform/headless/scripted_movie.hpp"

#include "flash/codec.hpp"
#include "platform/headless/headless_ui.hpp"
#include "platform/headless/movie_script.hpp"

namespace tarvel {
namespace {

using Kind = TranscriptEntry::Kind;

constexpr std::string_view kAddText = "addText";

class ScriptedMovie final : public MovieControl {
 public:
  ScriptedMovie(Files& files, HeadlessUi& ui, WindowId window, MovieEvents& events)
      : files_(files), ui_(ui), window_(window), events_(events) {}
  ~ScriptedMovie() override { *alive_ = false; }

  void load_movie(int layer, const std::u16string& path) override;
  void play() override { ui_.record(window_, Kind::movie, "play"); }
  std::u16string call_function(const std::u16string& request) override;

 private:
  void start_timed_rules();
  void react_to(const std::string& text);
  [[nodiscard]] bool matches(MovieRule& rule, std::size_t index, const std::string& text);
  void send(const MovieRule& rule);

  Files& files_;
  HeadlessUi& ui_;
  WindowId window_;
  MovieEvents& events_;
  MovieScript script_;
  std::vector<int> match_counts_;
  // Tasks the kernel runs later check this first: the control may be gone.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

void ScriptedMovie::load_movie(int layer, const std::u16string& path) {
  const std::string file = narrow(path);
  ui_.record(window_, Kind::movie, "load layer " + std::to_string(layer), file);
  const Files::Kind kind = files_.kind(file);
  const bool readable = kind == Files::Kind::file || kind == Files::Kind::symlink;
  const auto text = readable ? files_.read(file) : std::nullopt;
  if (!text) {
    ui_.record(window_, Kind::movie, "missing: the screen stays blank", file);
    script_ = {};
  } else {
    script_ = parse_movie_script(*text);
    for (const std::string& problem : script_.problems) {
      ui_.record(window_, Kind::movie, "script " + problem + " (ignored)");
    }
  }
  match_counts_.assign(script_.rules.size(), 0);
  start_timed_rules();
}

void ScriptedMovie::start_timed_rules() {
  for (const MovieRule& rule : script_.rules) {
    if (rule.trigger != MovieRule::Trigger::after) continue;
    ui_.schedule(window_, rule.after_ms, [this, rule, alive = std::weak_ptr<bool>(alive_)] {
      const auto still = alive.lock();
      if (still && *still) send(rule);
    });
  }
}

std::u16string ScriptedMovie::call_function(const std::u16string& request) {
  const ParsedRequest call = parse_request(request);
  if (call.name != kAddText || call.arguments.size() != 1) {
    ui_.record(window_, Kind::received, narrow(request), "not an addText call");
    return {};
  }
  ui_.record(window_, Kind::received, call.arguments[0]);
  react_to(call.arguments[0]);
  return {};
}

// What the movie answers arrives after the call that caused it, through the
// message queue, as a player's events do.
void ScriptedMovie::react_to(const std::string& text) {
  for (std::size_t i = 0; i < script_.rules.size(); ++i) {
    MovieRule& rule = script_.rules[i];
    if (!matches(rule, i, text)) continue;
    ui_.post(window_, [this, rule, alive = std::weak_ptr<bool>(alive_)] {
      const auto still = alive.lock();
      if (still && *still) send(rule);
    });
  }
}

bool ScriptedMovie::matches(MovieRule& rule, std::size_t index, const std::string& text) {
  const bool hit = (rule.trigger == MovieRule::Trigger::text && text == rule.match) ||
                   (rule.trigger == MovieRule::Trigger::prefix && text.starts_with(rule.match));
  if (!hit) return false;
  const int count = ++match_counts_[index];
  return rule.occurrence == 0 || rule.occurrence == count;
}

void ScriptedMovie::send(const MovieRule& rule) {
  if (rule.action == MovieRule::Action::command) {
    const std::string argument = rule.arguments.empty() ? "" : rule.arguments[0];
    ui_.record(window_, Kind::command, rule.name, argument);
    events_.on_fs_command(widen(rule.name), widen(argument));
    return;
  }
  const std::string request = build_invoke(rule.name, rule.arguments);
  ui_.record(window_, Kind::call, request);
  events_.on_flash_call(widen(request));
}

}  // namespace

std::unique_ptr<MovieControl> ScriptedMovieHost::create(HeadlessUi& ui, WindowId window,
                                                        MovieEvents& events) {
  ui.record(window, Kind::movie, "scripted movie control created");
  return std::make_unique<ScriptedMovie>(files_, ui, window, events);
}

}  // namespace tarvel
