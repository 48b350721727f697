#include "update/install_journal.hpp"

#include "core/app.hpp"
#include "core/listed_names.hpp"
#include "core/text_lines.hpp"
#include "update/manifest.hpp"
#include "update/package_files.hpp"

namespace tarvel {
namespace {

constexpr std::string_view kHeader = "tarvel-journal 1";
constexpr std::string_view kMoveKey = "move ";
constexpr std::string_view kRemoveKey = "remove ";

// Paths inside the application directory are kept relative to it, so that
// a folder moved elsewhere between a crash and the next start still finishes.
std::string relative(const std::string& path, const std::string& directory) {
  return path.starts_with(directory) ? path.substr(directory.size()) : path;
}

bool run_step(App& app, const JournalStep& step) {
  if (step.kind == JournalStep::Kind::remove) return app.files().remove_file(step.to);
  // Moved already, by the run a crash cut short.
  if (app.files().kind(step.from) == Files::Kind::missing) return true;
  if (app.files().move(step.from, step.to)) return true;
  app.log().cause(printable(step.from) + ": could not be put in place as " + printable(step.to));
  return false;
}

bool run_steps(App& app, const Journal& journal) {
  for (const JournalStep& step : journal) {
    if (!run_step(app, step)) return false;
  }
  return true;
}

bool finish(App& app, const std::string& name) {
  const std::optional<std::string> text = app.files().read(name);
  const std::optional<Journal> journal = text ? parse_journal(*text) : std::nullopt;
  if (!journal) {
    app.log().cause(printable(name) + ": not a journal of this launcher, removed");
  }
  const bool finished = journal && run_steps(app, *journal);
  return app.files().remove_file(name) && finished;
}

}  // namespace

std::string journal_name(const std::string& install_name) {
  return install_name + std::string(kJournalSuffix);
}

std::string journal_text(const Journal& journal) {
  std::string text = std::string(kHeader) + "\n";
  for (const JournalStep& step : journal) {
    if (step.kind == JournalStep::Kind::move) {
      text.append(kMoveKey).append(step.from).append("\t").append(step.to).append("\n");
    } else {
      text.append(kRemoveKey).append(step.to).append("\n");
    }
  }
  return text;
}

std::optional<Journal> parse_journal(std::string_view text) {
  const std::vector<std::string_view> lines = text_lines(text);
  if (lines.empty() || lines.front() != kHeader) return std::nullopt;
  Journal journal;
  for (std::size_t i = 1; i < lines.size(); ++i) {
    const std::string_view line = lines[i];
    if (line.starts_with(kRemoveKey) && line.size() > kRemoveKey.size()) {
      journal.push_back(
          {JournalStep::Kind::remove, "", std::string(line.substr(kRemoveKey.size()))});
      continue;
    }
    const auto tab = line.find('\t');
    if (!line.starts_with(kMoveKey) || tab == std::string_view::npos || tab == kMoveKey.size() ||
        tab + 1 == line.size()) {
      return std::nullopt;
    }
    journal.push_back({JournalStep::Kind::move,
                       std::string(line.substr(kMoveKey.size(), tab - kMoveKey.size())),
                       std::string(line.substr(tab + 1))});
  }
  return journal;
}

bool commit_journal(App& app, const std::string& name, const Journal& journal) {
  if (journal.size() <= 1) return run_steps(app, journal);
  const std::string directory = app.settings().application_directory();
  Journal kept = journal;
  for (JournalStep& step : kept) {
    step.from = relative(step.from, directory);
    step.to = relative(step.to, directory);
  }
  if (!app.files().write_durably(name, journal_text(kept))) {
    app.log().cause(printable(name) + ": could not be written");
    return false;
  }
  const bool done = run_steps(app, kept);
  return app.files().remove_file(name) && done;
}

bool finish_interrupted_commits(App& app) {
  bool finished = true;
  for (const Files::Entry& entry : app.files().list(app.settings().application_directory())) {
    if (entry.kind != Files::Kind::file || !entry.name.ends_with(kJournalSuffix) ||
        !addressable_name(entry.name)) {
      continue;
    }
    finished = finish(app, entry.name) && finished;
  }
  return finished;
}

}  // namespace tarvel
