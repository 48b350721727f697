#include "platform/headless/transcript.hpp"

#include <array>

namespace tarvel {
namespace {

std::string quoted(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20 || byte >= 0x7F) {
      std::array<char, 5> hex{};
      std::snprintf(hex.data(), hex.size(), "\\x%02X", byte);
      out += hex.data();
    } else {
      out += c;
    }
  }
  return out + "\"";
}

const char* kind_name(TranscriptEntry::Kind kind) {
  switch (kind) {
    case TranscriptEntry::Kind::window:
      return "window";
    case TranscriptEntry::Kind::movie:
      return "movie";
    case TranscriptEntry::Kind::received:
      return "received";
    case TranscriptEntry::Kind::command:
      return "command";
    case TranscriptEntry::Kind::call:
      return "call";
    case TranscriptEntry::Kind::key:
      return "key";
    case TranscriptEntry::Kind::message_box:
      return "message-box";
    case TranscriptEntry::Kind::browser:
      return "browser";
  }
  return "?";
}

// Entries whose text is a description rather than data print it unquoted.
bool is_description(TranscriptEntry::Kind kind) {
  return kind == TranscriptEntry::Kind::window || kind == TranscriptEntry::Kind::movie ||
         kind == TranscriptEntry::Kind::key || kind == TranscriptEntry::Kind::browser;
}

}  // namespace

std::string Transcript::format(const TranscriptEntry& entry) {
  std::array<char, 32> time{};
  std::snprintf(time.data(), time.size(), "[%6llu.%03llu]",
                static_cast<unsigned long long>(entry.time_ms / 1000),
                static_cast<unsigned long long>(entry.time_ms % 1000));
  std::string line = time.data();
  line += ' ';
  line += entry.screen.empty() ? "-" : entry.screen + "#" + std::to_string(entry.window);
  line += ' ';
  line += kind_name(entry.kind);
  line += ' ';
  line += is_description(entry.kind) ? entry.text : quoted(entry.text);
  if (entry.kind == TranscriptEntry::Kind::command ||
      entry.kind == TranscriptEntry::Kind::message_box || !entry.argument.empty()) {
    line += ' ' + quoted(entry.argument);
  }
  return line;
}

void StreamTranscript::add(const TranscriptEntry& entry) {
  const std::string line = format(entry) + "\n";
  std::lock_guard lock(mutex_);
  std::fputs(line.c_str(), stream_);
  std::fflush(stream_);
}

void RecordingTranscript::add(const TranscriptEntry& entry) {
  std::lock_guard lock(mutex_);
  entries_.push_back(entry);
}

std::vector<TranscriptEntry> RecordingTranscript::entries() const {
  std::lock_guard lock(mutex_);
  return entries_;
}

std::vector<std::string> RecordingTranscript::texts(TranscriptEntry::Kind kind,
                                                    const std::string& screen) const {
  std::vector<std::string> out;
  for (const TranscriptEntry& entry : entries()) {
    if (entry.kind == kind && (screen.empty() || entry.screen == screen)) out.push_back(entry.text);
  }
  return out;
}

std::vector<std::string> RecordingTranscript::texts(TranscriptEntry::Kind kind,
                                                    WindowId window) const {
  std::vector<std::string> out;
  for (const TranscriptEntry& entry : entries()) {
    if (entry.kind == kind && entry.window == window) out.push_back(entry.text);
  }
  return out;
}

std::optional<std::uint64_t> RecordingTranscript::time_of(WindowId window,
                                                          const std::string& text) const {
  for (const TranscriptEntry& entry : entries()) {
    if (entry.window == window && entry.text == text) return entry.time_ms;
  }
  return std::nullopt;
}

std::string RecordingTranscript::dump() const {
  std::string out;
  for (const TranscriptEntry& entry : entries()) out += format(entry) + "\n";
  return out;
}

}  // namespace tarvel
