#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace tarvel {

class Files;

// What to check: the files a launcher starts with, and the operator tree
// its download server serves.
struct TreeCheckInput {
  // A new application directory's files: setup.xml, Config.xml and the
  // language list app-popup/abb_language.xml.
  std::string client_dir;
  std::string tree;  // the operator tree
  // The address the tree is served at; "" for the root of the server that
  // setup.xml's url names.
  std::string served_at;
};

struct TreeCheckResult {
  // Each names the address a launcher would ask for and what is wrong there.
  std::vector<std::string> problems;
  std::size_t manifests = 0;  // manifests found and read
  std::size_t files = 0;      // files they list, found
  std::vector<std::string> languages;

  [[nodiscard]] bool ok() const { return problems.empty(); }
};

// Walks what a launcher with the client's settings would fetch from the
// tree, in every language of its language list: the server's setup.xml, the
// login package, the common package and its language packs, the casino
// package, every game that linkLabel lists and its language packs; each
// package's installation and update manifests, their sums and signatures
// (when the manifest announces sums or Config.xml holds an UpdateKey), and
// every file the manifests list, checked against its sum.
[[nodiscard]] TreeCheckResult check_operator_tree(Files& files, const TreeCheckInput& input);

}  // namespace tarvel
