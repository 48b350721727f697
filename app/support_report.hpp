#pragma once

#include <string>

namespace tarvel {

class App;

// "--report": writes a folder a player can send to support into the
// application directory ("tarvel-report-<date>-<time>"): the support logs,
// setup.xml, url.xml and Config.xml with their secrets removed, a summary
// of what is installed, and what --verify finds. Says where on standard
// output. 0 when written, 1 when not.
int report_command(App& app, const std::string& log_path);

// Config.xml's text without its secrets: the shared key of transfer signs,
// and credentials written in addresses.
[[nodiscard]] std::string config_without_secrets(const std::string& text);

}  // namespace tarvel
