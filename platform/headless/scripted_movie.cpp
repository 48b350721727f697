#include "platform/headless/scripted_movie.hpp"

#include "platform/headless/headless_ui.hpp"
#include "platform/headless/recording_movie.hpp"

namespace tarvel {
namespace {

using Kind = TranscriptEntry::Kind;

class ScriptedMovie final : public RecordingMovie {
 public:
  ScriptedMovie(Files& files, HeadlessUi& ui, WindowId window, MovieEvents& events)
      : RecordingMovie(ui, window, events), files_(files) {}

 private:
  void on_load(const std::string& file) override;
  void on_text(const std::string& text) override;
  [[nodiscard]] bool matches(MovieRule& rule, std::size_t index, const std::string& text);

  Files& files_;
  MovieScript script_;
  std::vector<int> match_counts_;
};

void ScriptedMovie::on_load(const std::string& file) {
  const Files::Kind kind = files_.kind(file);
  const bool readable = kind == Files::Kind::file || kind == Files::Kind::symlink;
  const auto text = readable ? files_.read(file) : std::nullopt;
  if (!text) {
    ui().record(window(), Kind::movie, "missing: the screen stays blank", file);
    script_ = {};
  } else {
    script_ = parse_movie_script(*text);
    for (const std::string& problem : script_.problems) {
      ui().record(window(), Kind::movie, "script " + problem + " (ignored)");
    }
  }
  match_counts_.assign(script_.rules.size(), 0);
  for (const MovieRule& rule : script_.rules) {
    if (rule.trigger == MovieRule::Trigger::after) send_later(rule, rule.after_ms);
  }
}

void ScriptedMovie::on_text(const std::string& text) {
  for (std::size_t i = 0; i < script_.rules.size(); ++i) {
    MovieRule& rule = script_.rules[i];
    if (matches(rule, i, text)) send_soon(rule);
  }
}

bool ScriptedMovie::matches(MovieRule& rule, std::size_t index, const std::string& text) {
  const bool hit = (rule.trigger == MovieRule::Trigger::text && text == rule.match) ||
                   (rule.trigger == MovieRule::Trigger::prefix && text.starts_with(rule.match));
  if (!hit) return false;
  const int count = ++match_counts_[index];
  return rule.occurrence == 0 || rule.occurrence == count;
}

}  // namespace

std::unique_ptr<MovieControl> ScriptedMovieHost::create(HeadlessUi& ui, WindowId window,
                                                        MovieEvents& events) {
  ui.record(window, Kind::movie, "scripted movie control created");
  return std::make_unique<ScriptedMovie>(files_, ui, window, events);
}

}  // namespace tarvel
