#include "app/installed_tree_command.hpp"

#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

#include "core/app.hpp"
#include "core/failure_words.hpp"
#include "update/manifest.hpp"
#include "update/verify.hpp"

namespace tarvel {
namespace {

// How often a long step redraws its progress line.
constexpr auto kProgressPeriod = std::chrono::milliseconds(200);

// One progress line on standard error: redrawn in place on a terminal, a
// line now and then elsewhere (a log keeps every tenth).
class ProgressLine {
 public:
  explicit ProgressLine(const char* what) : what_(what), terminal_(::isatty(2) == 1) {}
  void show(std::size_t done, std::size_t total) {
    if (total == 0) return;
    const auto now = std::chrono::steady_clock::now();
    if (done != total && now - last_ < kProgressPeriod) return;
    last_ = now;
    if (terminal_) {
      std::fprintf(stderr, "\r%s: %zu of %s", what_, done, counted(total, "file").c_str());
      if (done == total) std::fputc('\n', stderr);
    } else if (done == total || done * 10 / total != shown_) {
      shown_ = done * 10 / total;
      std::fprintf(stderr, "%s: %zu of %s\n", what_, done, counted(total, "file").c_str());
    }
  }

 private:
  const char* what_;
  bool terminal_;
  std::size_t shown_ = 0;
  std::chrono::steady_clock::time_point last_{};
};

const char* problem_word(BrokenFile::Problem problem) {
  return problem == BrokenFile::Problem::missing ? "missing" : "changed";
}

void print_report(const TreeReport& report) { std::fputs(tree_report_text(report).c_str(), stdout); }

}  // namespace

std::string tree_report_text(const TreeReport& report) {
  std::string text;
  for (const BrokenFile& file : report.broken) {
    text += std::string(problem_word(file.problem)) + ": " + printable(file.local_path) + "\n";
  }
  text += "checked " + counted(report.files, "file") + " (" + counted(report.bytes, "byte") +
          ") of " + counted(report.records, "package") + ": ";
  if (report.broken.empty()) return text + "all as installed\n";
  return text + std::to_string(report.broken.size()) + " broken; a repair fetches " +
         counted(report.broken.size(), "file") + ", " + counted(report.repair_bytes(), "byte") +
         "\n";
}

namespace {

TreeReport checked_tree(App& app) {
  ProgressLine line("verify");
  return verify_installed_tree(
      app, [&](std::size_t done, std::size_t total) { line.show(done, total); });
}

// The repair on a thread of its own, while this one shows how many files
// have arrived (the item index the downloads advance).
std::vector<BrokenFile> repair_with_progress(App& app, const TreeReport& report) {
  std::vector<BrokenFile> still;
  std::mutex mutex;
  std::condition_variable done_changed;
  bool done = false;
  std::thread worker([&] {
    auto left = repair_installed_tree(app, report);
    const std::lock_guard lock(mutex);
    still = std::move(left);
    done = true;
    done_changed.notify_all();
  });
  ProgressLine line("repair");
  std::unique_lock lock(mutex);
  while (!done_changed.wait_for(lock, kProgressPeriod, [&] { return done; })) {
    const int index = app.settings().snapshot().item_index;
    line.show(static_cast<std::size_t>(index), report.broken.size());
  }
  lock.unlock();
  worker.join();
  line.show(report.broken.size() - still.size(), report.broken.size());
  return still;
}

}  // namespace

int verify_command(App& app) {
  const TreeReport report = checked_tree(app);
  print_report(report);
  app.log().note("verify: " + tree_report_text(report));
  return report.broken.empty() ? 0 : 1;
}

int repair_command(App& app) {
  const TreeReport report = checked_tree(app);
  print_report(report);
  if (report.broken.empty()) return 0;
  const std::vector<BrokenFile> still = repair_with_progress(app, report);
  for (const BrokenFile& file : still) {
    std::printf("still %s: %s\n", problem_word(file.problem), printable(file.local_path).c_str());
  }
  std::printf("repaired %zu of %s\n", report.broken.size() - still.size(),
              counted(report.broken.size(), "file").c_str());
  return still.empty() ? 0 : 1;
}

}  // namespace tarvel
