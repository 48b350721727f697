#include "app/program_arguments.hpp"

#include <cstdio>
#include <string_view>

#include "tarvel_version.hpp"

namespace tarvel {
namespace {

using Action = ProgramArguments::Action;

struct Word {
  std::string_view text;
  Action action;
};

constexpr Word kLauncherActions[] = {
    {"--verify", Action::verify}, {"--repair", Action::repair}, {"--report", Action::report}};
constexpr Word kAnswers[] = {{"--help", Action::help}, {"-h", Action::help},
                             {"--version", Action::version}};

// A word that stands alone, or none.
const Word* alone_word(std::string_view argument, ProgramKind kind) {
  for (const Word& word : kAnswers) {
    if (argument == word.text) return &word;
  }
  if (kind != ProgramKind::launcher) return nullptr;
  for (const Word& word : kLauncherActions) {
    if (argument == word.text) return &word;
  }
  return nullptr;
}

}  // namespace

ProgramArguments read_program_arguments(int argc, const char* const* argv, ProgramKind kind) {
  ProgramArguments arguments;
  for (int i = 1; i < argc && arguments.error.empty(); ++i) {
    const std::string_view argument = argv[i];
    if (const Word* word = alone_word(argument, kind)) {
      if (argc != 2) arguments.error = std::string(argument) + " goes alone";
      arguments.action = word->action;
    } else if (argument == "--headless" || argument == "--console") {
      if (arguments.headless) arguments.error = "give one of --headless and --console";
      arguments.headless = true;
      arguments.console = argument == "--console";
    } else {
      arguments.error = "unknown argument " + std::string(argument);
    }
  }
  return arguments;
}

std::string program_usage(const std::string& program, ProgramKind kind, const std::string& note) {
  std::string usage = "usage: " + program + " [--headless | --console]\n";
  if (kind == ProgramKind::launcher) usage += "       " + program + " --verify | --repair | --report\n";
  usage += "       " + program + " --help | --version\n\n";
  usage += kind == ProgramKind::launcher
               ? "Runs the launcher with the current folder as its application directory.\n"
               : "Shows the cache cleaner's screen (app-popup/clearLogin.swf) from the current\n"
                 "folder and ends when its movie sends a command.\n";
  usage +=
      "With a display every screen is a real window; without one, or with --headless,\n"
      "the screens run headless.\n\n"
      "  --headless  no windows: every movie is a movie script (docs/movie-scripts.md)\n"
      "  --console   no windows: you play every movie at the console\n";
  if (kind == ProgramKind::launcher) {
    usage +=
        "  --verify    check the installed files against the records of what was installed\n"
        "  --repair    fetch again what --verify finds missing or changed\n"
        "  --report    write a folder for support: the logs, the settings files without\n"
        "              secrets, what is installed and --verify's result\n";
  }
  usage +=
      "  --help      show this\n"
      "  --version   show the version\n\n"
      "Every run adds to a support log in $XDG_STATE_HOME/tarvel/ (~/.local/state/tarvel/).\n";
  if (!note.empty()) usage += note + "\n";
  return usage;
}

std::string program_version(const std::string& program) {
  return program + " " + kTarvelVersion + "\n";
}

int answer_arguments(const ProgramArguments& arguments, const std::string& program,
                     ProgramKind kind, const std::string& note) {
  if (!arguments.error.empty()) {
    std::fprintf(stderr, "%s: %s\n%s", program.c_str(), arguments.error.c_str(),
                 program_usage(program, kind, note).c_str());
    return 2;
  }
  if (arguments.action == Action::help) {
    std::fputs(program_usage(program, kind, note).c_str(), stdout);
    return 0;
  }
  if (arguments.action == Action::version) {
    std::fputs(program_version(program).c_str(), stdout);
    return 0;
  }
  return -1;
}

}  // namespace tarvel
