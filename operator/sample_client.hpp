#pragma once

#include <string>
#include <vector>

namespace tarvel {

class Files;

// The shared key of the sample's transfer signs, and its one player.
inline constexpr const char* kSampleKey = "demo-key";
inline constexpr const char* kSamplePlayer = "demo";
inline constexpr const char* kSamplePassword = "demo";

// Where the sample puts what, inside its folder.
inline constexpr const char* kSampleTree = "www";       // the operator tree, served
inline constexpr const char* kSampleClient = "client";  // a new application directory's files
inline constexpr const char* kSampleAccounts = "accounts.txt";
// The key that signs the sample's sums files; its public half is in the
// sample's Config.xml.
inline constexpr const char* kSampleSigningKey = "update-key";

// Writes a sample client into dir, every package published with the
// operator's manifest tool release by release up to release (1 or more):
// the operator tree (the launcher's settings copy and Config.xml, the login
// and casino packages, the common package with two language packs, five
// games, one of them an "rng" one, each with its language packs), the files
// a new application directory starts with (setup.xml and Config.xml for
// base_url, the language file, the first movies), and the accounts file.
// Its movies are movie scripts that drive the whole road by themselves: log
// in, wait for the game status document, ask for a game, open the cashier,
// leave. Beside each script lies the page a window plays: one that plays the
// script, or, given a folder of pages laid out like web/movies ("index.html",
// the others and what they load in "app-popup"), that folder's page. A tree
// already in dir is replaced. False, with the problems, when something could
// not be written.
[[nodiscard]] bool write_sample_client(Files& files, const std::string& dir, int release,
                                       const std::string& base_url,
                                       std::vector<std::string>& problems,
                                       const std::string& pages = "");

}  // namespace tarvel
