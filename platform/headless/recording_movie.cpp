#include "platform/headless/recording_movie.hpp"

#include "flash/codec.hpp"
#include "platform/headless/headless_ui.hpp"

namespace tarvel {
namespace {

using Kind = TranscriptEntry::Kind;

constexpr std::string_view kAddText = "addText";

}  // namespace

void RecordingMovie::load_movie(int layer, const std::u16string& path) {
  const std::string file = narrow(path);
  ui_.record(window_, Kind::movie, "load layer " + std::to_string(layer), file);
  on_load(file);
}

void RecordingMovie::play() { ui_.record(window_, Kind::movie, "play"); }

std::u16string RecordingMovie::call_function(const std::u16string& request) {
  const ParsedRequest call = parse_request(request);
  if (call.name != kAddText || call.arguments.size() != 1) {
    ui_.record(window_, Kind::received, narrow(request), "not an addText call");
    return {};
  }
  ui_.record(window_, Kind::received, call.arguments[0]);
  on_text(call.arguments[0]);
  return {};
}

void RecordingMovie::send(const MovieRule& rule) {
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

void RecordingMovie::send_later(const MovieRule& rule, std::uint64_t delay_ms) {
  ui_.schedule(window_, delay_ms, [this, rule, alive = std::weak_ptr<bool>(alive_)] {
    const auto still = alive.lock();
    if (still && *still) send(rule);
  });
}

// What a received text sets off arrives after the call that caused it,
// through the message queue, as a player's events do.
void RecordingMovie::send_soon(const MovieRule& rule) {
  ui_.post(window_, [this, rule, alive = std::weak_ptr<bool>(alive_)] {
    const auto still = alive.lock();
    if (still && *still) send(rule);
  });
}

}  // namespace tarvel
