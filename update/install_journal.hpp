#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvel {

class App;

// The names and the journal that make an install one step for the files it
// changes. A fetched file waits under its staging name beside its target
// until every file has arrived; then a journal listing the renames that put
// them in place is written to the disk, the renames run, and the journal
// goes (the names: package_files.hpp). A journal that is still there was cut short (a crash, a
// power cut): running it again finishes the install, since a step whose file has moved already is
// done.

// One step of a commit.
struct JournalStep {
  enum class Kind { move, remove };
  Kind kind = Kind::move;
  std::string from;  // what moves; "" for a removal
  std::string to;    // where it goes, or what is removed
  bool operator==(const JournalStep&) const = default;
};
using Journal = std::vector<JournalStep>;

// The journal of the package whose installation manifest has this name, in
// the application directory.
[[nodiscard]] std::string journal_name(const std::string& install_name);

// "tarvel-journal 1", then a line a step: "move <from>\t<to>" or
// "remove <path>", paths relative to the application directory. Nothing
// when the text is not a whole journal.
[[nodiscard]] std::string journal_text(const Journal& journal);
[[nodiscard]] std::optional<Journal> parse_journal(std::string_view text);

// Commits: writes the journal to the disk, runs its steps in order, then
// removes it. A journal of one step runs without being written, since one
// rename is a step of its own. False when the journal could not be written
// (nothing changed) or a step failed (the steps before it stay done).
[[nodiscard]] bool commit_journal(App& app, const std::string& name, const Journal& journal);

// Finishes every commit that a journal in the application directory says
// was cut short; true when there was none or each one finished. A journal
// that cannot be run to its end is removed all the same: what it left
// undone the next install of its package fetches again.
bool finish_interrupted_commits(App& app);

}  // namespace tarvel
