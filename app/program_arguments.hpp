#pragma once

#include <string>

namespace tarvel {

// What a program was asked to do by its arguments.
struct ProgramArguments {
  enum class Action { run, verify, repair, report, help, version };
  Action action = Action::run;
  bool headless = false;  // --headless, or --console
  bool console = false;   // --console: a person plays the movies
  std::string error;      // what was wrong with the arguments, "" when nothing
};

// Which arguments a program takes: the launcher takes the tree commands
// too, Menrik the screen choices alone.
enum class ProgramKind { launcher, cleaner };

// Reads argv[1...]: at most one of --headless and --console, or one of
// --verify, --repair, --report alone (launcher only), or --help or --version
// alone.
[[nodiscard]] ProgramArguments read_program_arguments(int argc, const char* const* argv,
                                                      ProgramKind kind);

// The usage text of the program, every option listed; note, when given, is
// one more line about this build.
[[nodiscard]] std::string program_usage(const std::string& program, ProgramKind kind,
                                        const std::string& note = {});

// "<program> <version>" and a line of what the build is.
[[nodiscard]] std::string program_version(const std::string& program);

// Answers --help and --version on standard output, and a usage error on
// standard error. The exit status when the program is to end here (0 after
// --help or --version, 2 after a usage error), or -1 when it goes on.
[[nodiscard]] int answer_arguments(const ProgramArguments& arguments, const std::string& program,
                                   ProgramKind kind, const std::string& note = {});

}  // namespace tarvel
