#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace tarvel {

// Replaces this process with program, started in folder with the argument
// list given (arguments[0] is the name it goes by: its windows take their
// class from it). Returns only when that fails, with the reason.
[[nodiscard]] std::string run_in_folder(const std::string& folder, const std::string& program,
                                        const std::vector<std::string>& arguments);

// Runs program with the arguments (arguments[0] included) and nothing on its
// standard input, and gives the first line it writes to standard output;
// nothing when it writes none, cannot be started or has not written one
// within limit. It is ended once the line is in; its standard error is dropped.
[[nodiscard]] std::optional<std::string> first_output_line(
    const std::string& program, const std::vector<std::string>& arguments,
    std::chrono::milliseconds limit);

}  // namespace tarvel
