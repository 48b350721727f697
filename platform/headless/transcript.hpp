#pragma once

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/headless/loop_clock.hpp"
#include "platform/message_box.hpp"
#include "platform/ui.hpp"

namespace tarvel {

// One line of what happened on the screens: a window's life, what each movie
// received and sent, keys, message boxes.
struct TranscriptEntry {
  enum class Kind {
    window,       // created, shown, destroyed, titled, moved...
    movie,        // a movie loaded, played, missing, or a script line ignored
    received,     // a text handed to the movie with addText
    command,      // a command event the movie sent (text, argument)
    call,         // an external-interface request the movie sent
    key,          // a key message and where it went
    message_box,  // a message box (text, argument: caption)
    browser,      // a browser window sent to an address
  };

  std::uint64_t time_ms = 0;
  WindowId window = kNoWindow;
  std::string screen;  // the window's class name, "" when no window
  Kind kind = Kind::window;
  std::string text;
  std::string argument;
};

// Where a headless run writes its transcript. Safe from any thread.
class Transcript {
 public:
  virtual ~Transcript() = default;
  virtual void add(const TranscriptEntry& entry) = 0;
  // One readable line: time, screen, kind and quoted texts.
  [[nodiscard]] static std::string format(const TranscriptEntry& entry);
};

// Prints each entry as a line as it happens: what programs do.
class StreamTranscript final : public Transcript {
 public:
  explicit StreamTranscript(std::FILE* stream) : stream_(stream) {}
  void add(const TranscriptEntry& entry) override;

 private:
  std::mutex mutex_;
  std::FILE* stream_;
};

// Keeps every entry for a test to read.
class RecordingTranscript final : public Transcript {
 public:
  void add(const TranscriptEntry& entry) override;
  [[nodiscard]] std::vector<TranscriptEntry> entries() const;
  // The texts of one kind of entry, optionally only those of one screen.
  [[nodiscard]] std::vector<std::string> texts(TranscriptEntry::Kind kind,
                                               const std::string& screen = "") const;
  // The texts of one kind of entry of one window.
  [[nodiscard]] std::vector<std::string> texts(TranscriptEntry::Kind kind, WindowId window) const;
  // When the window first had an entry with this text (window entries:
  // "destroyed", "shown modally"...), if ever.
  [[nodiscard]] std::optional<std::uint64_t> time_of(WindowId window,
                                                     const std::string& text) const;
  // The whole transcript as formatted lines, for failure messages.
  [[nodiscard]] std::string dump() const;

 private:
  mutable std::mutex mutex_;
  std::vector<TranscriptEntry> entries_;
};

// A message box that only goes into a transcript: the boxes of headless
// programs, where nobody is there to press OK.
class TranscriptMessageBox final : public MessageBox {
 public:
  TranscriptMessageBox(Transcript& transcript, const LoopClock& clock)
      : transcript_(transcript), clock_(clock) {}
  void show(const std::string& text, const std::string& caption) override {
    transcript_.add(
        {clock_.now_ms(), kNoWindow, "", TranscriptEntry::Kind::message_box, text, caption});
  }

 private:
  Transcript& transcript_;
  const LoopClock& clock_;
};

}  // namespace tarvel
