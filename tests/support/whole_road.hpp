#pragma once

#include <string>
#include <vector>

#include "tests/support/package_site.hpp"
#include "tests/support/request_service_double.hpp"
#include "tests/support/temp_dir.hpp"

namespace tarvel::testing {

// The whole road of a run, staged as an operator stages it: the launcher's
// settings copy and login package, the common package with the lobby movie,
// the casino, and one game ("slot") in English; the lobby also lists
// "poker", which is not staged. The request service accepts the login and
// hands out the ticket A1B2. The movies are movie scripts; a test that plays
// other movies adds their files with package().
struct WholeRoad {
  WholeRoad();

  // Writes the launcher's "Config.xml" with this cashier address (the
  // ticket is added to it).
  void write_config(const std::string& cashier);
  // A package's installation manifest with these entries, and an update
  // manifest that says it is current.
  void package(const std::string& folder, const std::string& name,
               const std::vector<std::string>& entries);

  PackageSite site;
  RequestServiceDouble service;
  TempDir app;
  TempDir scratch;

 private:
  void stage();
};

}  // namespace tarvel::testing
