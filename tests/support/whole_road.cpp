#include "tests/support/whole_road.hpp"

namespace tarvel::testing {

WholeRoad::WholeRoad() {
  service.answer({200, login_answer("0", kTicketedRest), {}});
  stage();
  app.write("setup.xml", "url=" + site.server.url() + "\ncommon_url=" + site.server.url("common/") +
                             "\ngame_url=" + site.server.url("games/") +
                             "\ncommon_install=common_install.xml"
                             "\ncommon_update=common_update.xml"
                             "\nversion=$version-1.1\nexe_name=tarvel\n");
  write_config("http://127.0.0.1:1/cashier?");
  app.write("app-popup/abb_language.xml",
            "<lang_menu>\n<menu name=\"en\" lang=\"language/en\">English</menu>\n</lang_menu>\n");
  // A failure ends the run at once rather than waiting for a player.
  app.write("app-popup/transfer.swf", "prefix Err= -> command exit\n");
}

void WholeRoad::write_config(const std::string& cashier) {
  testing::write_config(app.path() + "/", {{"ServerURL", service.address()},
                                           {"Key", "k"},
                                           {"Languages", "English"},
                                           {"linkLabel", "slot,poker"},
                                           {"CashierUrl", cashier},
                                           {"AutoLogin", "true"},
                                           {"LoginFormText", "Tarvel"}});
}

void WholeRoad::stage() {
  site.write("setup.xml", "version=$version-1.1\n");
  package("", "update_login", {"movies/login.swf,app-popup\\"});
  site.write("movies/login.swf", "prefix lang= -> call validate player secret en\n");
  package("common/", "common", {"COMMON/movies/index.swf,", "COMMON/images/lobby.png,app-popup\\"});
  site.write("common/movies/index.swf",
             "prefix game_status== -> command game_slot\n"
             "prefix game_install== -> command cashier\n"
             "prefix game_install== -> command exit\n");
  site.write("common/images/lobby.png", "png");
  package("common/language/en/", "en_common", {"COMMON/language/en/strings.txt,app-popup\\en\\"});
  site.write("common/language/en/strings.txt", "hello");
  package("", "common_casino", {"casino/table.txt,casino\\"});
  site.write("casino/table.txt", "table");
  package("games/", "common_slot", {"GAMES/slot/slot.swf,games\\slot\\"});
  site.write("games/slot/slot.swf", "slot");
  package("games/language/en/", "en_slot", {"GAMES/language/en/slot.txt,games\\slot\\en\\"});
  site.write("games/language/en/slot.txt", "strings");
}

void WholeRoad::package(const std::string& folder, const std::string& name,
                        const std::vector<std::string>& entries) {
  std::string manifest = "$version-1.0\n";
  for (const std::string& entry : entries) manifest += entry + "\n";
  site.write(folder + name + "_install.xml", manifest);
  site.write(folder + name + "_update.xml", "$version-1.0\n");
}

}  // namespace tarvel::testing
