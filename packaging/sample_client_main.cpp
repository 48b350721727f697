// Writes the sample client for a stage at a given address, as tarvel-stage
// --sample would, without serving it: the sample brand's package starts its
// players from DIR/client, and the stage that serves them signs with the key
// kept in DIR. Usage: tarvel-sample-client DIR BASE_URL
#include <cstdio>
#include <string>
#include <vector>

#include "operator/sample_client.hpp"
#include "platform/posix/posix_files.hpp"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: tarvel-sample-client DIR BASE_URL\n");
    return 2;
  }
  const std::string directory = tarvel::current_directory();
  tarvel::PosixFiles files(directory.empty() ? "/" : directory);
  std::vector<std::string> problems;
  if (!tarvel::write_sample_client(files, argv[1], 1, argv[2], problems)) {
    for (const std::string& problem : problems) std::fprintf(stderr, "  %s\n", problem.c_str());
    std::fprintf(stderr, "tarvel-sample-client: the sample could not be written into %s\n",
                 argv[1]);
    return 1;
  }
  return 0;
}
