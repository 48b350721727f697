#include "operator/sample_client.hpp"

#include <cstdint>
#include <filesystem>
#include <string_view>

#include "operator/package_release.hpp"
#include "operator/script_movie_page.hpp"
#include "operator/signing.hpp"
#include "platform/files.hpp"

namespace tarvel {
namespace {

// The sample's languages, as the menu file and the package groups name them.
constexpr const char* kLanguages[] = {"en", "de"};
// The games the lobby lists (Config.xml's linkLabel names roulette
// "rngroulette": "rng" marks a game the lobby names without it).
constexpr const char* kGames[] = {"slotmania", "videopoker", "blackjack", "roulette", "keno"};
// The game the sample lobby asks for, and whose files each release changes.
constexpr const char* kRequestedGame = "slotmania";

constexpr const char* kCheckUpdateMovie =
    "# The update check screen: the launcher looks for a new release and\n"
    "# installs the login package by itself. On a failure, try twice more.\n"
    "prefix Err= #1 -> command retry\n"
    "prefix Err= #2 -> command retry\n"
    "prefix Err= #3 -> command exit\n";

constexpr const char* kErrorMovie =
    "# The error screen: any command closes it.\n"
    "prefix Err= -> command ok\n";

constexpr const char* kCleanerMovie =
    "# Menrik's screen: done as soon as it is shown.\n"
    "after 500 -> command done\n";

constexpr const char* kLoginMovie =
    "# The login screen: log in as the demo player once the screen has said\n"
    "# which language to show. A refused login or a lost line ends the run.\n"
    "prefix lang= -> call validate demo demo en\n"
    "prefix Err= -> command exit\n";

constexpr const char* kTransferMovie =
    "# The installation screen: progress arrives as progress= lines. A failed\n"
    "# download is tried twice more before the run ends.\n"
    "prefix Err= #1 -> command retry\n"
    "prefix Err= #2 -> command retry\n"
    "prefix Err= #3 -> command exit\n";

constexpr const char* kLobbyScript =
    "# The lobby: wait for the game status document, ask for a game, and once\n"
    "# it is installed open the cashier and leave.\n"
    "prefix game_status== -> command game_slotmania\n"
    "prefix game_install== -> command cashier\n"
    "prefix game_install== -> command exit\n"
    "# A lobby that hears nothing for two minutes leaves as well.\n"
    "after 120000 -> command exit\n";

using Contents = std::vector<std::pair<std::string, std::string>>;

// The lobby's movie lies in the application directory itself, the others in
// "app-popup".
constexpr const char* kLobbyMovie = "index";
constexpr const char* kPagesFolder = "app-popup";
constexpr std::string_view kPageSuffix = ".html";

Contents joined(Contents first, const Contents& second) {
  first.insert(first.end(), second.begin(), second.end());
  return first;
}

// setup.xml and Config.xml, both the server's copies and a new application
// directory's; {base} stands for the stage's address, {key} for the shared key.
constexpr const char* kSettingsTemplate =
    "url={base}launcher/\n"
    "version=$version-1.1\n"
    "common_install=common_install.xml\n"
    "common_update=common_update.xml\n"
    "common_url={base}common/\n"
    "exe_name=tarvel\n"
    "first_log=\n"
    "aurl=\n"
    "update=0\n"
    "game_url={base}games/\n";

constexpr const char* kConfigTemplate =
    "<?xml version=\"1.0\"?>\n"
    "<Config>\n"
    "  <ServerURL>{base}request</ServerURL>\n"
    "  <Key>{key}</Key>\n"
    "  <IconImage>app-popup\\tarvel.ico</IconImage>\n"
    "  <LoginFormText>Tarvel sample casino</LoginFormText>\n"
    "  <Languages>English,Deutsch</Languages>\n"
    "  <CashierUrl>{base}cashier/?</CashierUrl>\n"
    "  <CashierSize>800,600</CashierSize>\n"
    "  <AutoLogin>true</AutoLogin>\n"
    "  <more_game>{base}more/</more_game>\n"
    "  <linkLabel>slotmania,videopoker,blackjack,rngroulette,keno</linkLabel>\n"
    "  <UpdateKey>{update_key}</UpdateKey>\n"
    "</Config>\n";

// Bytes standing in for images and sounds: the same for the same name and
// seed on every machine.
std::string filler(const std::string& name, int seed, std::size_t size) {
  std::uint64_t state = 1469598103934665603ULL;
  for (const char c : name + "#" + std::to_string(seed)) {
    state = (state ^ static_cast<unsigned char>(c)) * 1099511628211ULL;
  }
  std::string bytes(size, '\0');
  for (char& byte : bytes) {
    state ^= state << 13U;
    state ^= state >> 7U;
    state ^= state << 17U;
    byte = static_cast<char>(state >> 56U);
  }
  return bytes;
}

std::string strings_file(const std::string& what, const std::string& language, int release) {
  return "<?xml version=\"1.0\"?>\n<strings lang=\"" + language + "\" of=\"" + what +
         "\" release=\"" + std::to_string(release) + "\">\n  <title>" + what +
         "</title>\n</strings>\n";
}

// A seed that changes with the release for what each release changes, and
// stays 1 for everything else.
int seed_for(bool changes, int release) { return changes ? release : 1; }

class SampleWriter {
 public:
  SampleWriter(Files& files, std::string dir, std::string base_url, std::string pages,
               std::vector<std::string>& problems)
      : files_(files),
        dir_(std::move(dir)),
        base_(std::move(base_url)),
        pages_(std::move(pages)),
        problems_(problems) {}

  bool write(int release) {
    std::error_code ignored;
    std::filesystem::remove_all(path(kSampleTree), ignored);
    std::filesystem::remove_all(path(kSampleClient), ignored);
    take_signing_key();
    for (int r = 1; r <= release && problems_.empty(); ++r) publish_release(r);
    if (problems_.empty()) write_server_files();
    if (problems_.empty()) write_client();
    put(kSampleAccounts, "# Players of the stage's request service, one name:password a line.\n" +
                             std::string(kSamplePlayer) + ":" + kSamplePassword + "\n");
    return problems_.empty();
  }

 private:
  std::string path(const std::string& relative) const { return dir_ + "/" + relative; }
  std::string tree(const std::string& relative) const {
    return std::string(kSampleTree) + "/" + relative;
  }

  void put(const std::string& relative, const std::string& contents) {
    for (std::size_t at = relative.find('/'); at != std::string::npos;
         at = relative.find('/', at + 1)) {
      files_.create_directory(path(relative.substr(0, at)));
    }
    if (!files_.write(path(relative), contents)) problems_.push_back(relative + ": cannot write");
  }

  // A movie as both kinds of screen play it: the script for the headless
  // screens, and beside it the page a window plays: the given pages' own, or
  // one that plays the same script.
  Contents movie(const std::string& name, const std::string& title, const char* script) {
    return {{name + ".swf", script}, {name + ".html", page(name, title, script)}};
  }

  std::string page(const std::string& name, const std::string& title, const char* script) {
    if (pages_.empty()) return script_movie_page(title, script);
    const std::string folder = name == kLobbyMovie ? "" : std::string(kPagesFolder) + "/";
    const std::string path = pages_ + "/" + folder + name + std::string(kPageSuffix);
    const auto text = files_.read(path);
    if (!text) problems_.push_back(path + ": cannot be read");
    return text.value_or("");
  }

  // What the given pages load beside them (styles, scripts) goes where the
  // pages go: into every new application directory's "app-popup".
  void copy_page_files(const std::string& client) {
    if (pages_.empty()) return;
    const std::string folder = pages_ + "/" + kPagesFolder;
    for (const Files::Entry& entry : files_.list(folder)) {
      if (entry.kind != Files::Kind::file || entry.name.ends_with(kPageSuffix)) continue;
      const auto bytes = files_.read(folder + "/" + entry.name);
      if (!bytes) problems_.push_back(folder + "/" + entry.name + ": cannot be read");
      put(client + kPagesFolder + "/" + entry.name, bytes.value_or(""));
    }
  }

  // Writes a package's files for this release and publishes it.
  void package(const std::string& folder, PackageRelease release, const Contents& contents) {
    for (const auto& [name, bytes] : contents) put(tree(folder + "/" + name), bytes);
    release.signing_key = key_.private_key;
    release.package_dir = path(tree(folder));
    release.out_dir = path(tree(folder.substr(0, folder.rfind('/'))));
    const ReleaseResult result = publish_package(files_, release);
    for (const std::string& problem : result.problems) problems_.push_back(folder + ": " + problem);
  }

  void publish_release(int r) {
    const std::string version = "1." + std::to_string(r);
    package("launcher/login", {"update", "login", version, "", "login/", "app-popup\\", "", ""},
            joined(joined(movie("login", "Login", kLoginMovie),
                          movie("transfer", "Installing the client", kTransferMovie)),
                   {{"images/login-background.png", filler("login-background", 1, 48000)}}));
    package("launcher/casino", {"common", "casino", version, "", "casino/", "", "", ""},
            joined(movie(kLobbyMovie, "Lobby", kLobbyScript),
                   {{"casino/lobby-layout.txt", "rows=2\ncolumns=3\n"}}));
    package("common/files", {"", "common", version, "", "COMMON/files/", "app-popup\\", "", ""},
            {{"images/banner.png", filler("banner", seed_for(true, r), 64000)},
             {"images/chips.png", filler("chips", 1, 22000)},
             {"sounds/click.mp3", filler("click", 1, 9000)}});
    for (const char* code : kLanguages) {
      const std::string language = code;
      const bool changes = language == "en";
      package("common/language/" + language + "/files",
              {language, "common", version, "", "COMMON/language/" + language + "/files/",
               "app-popup\\language\\" + language + "\\", "", ""},
              {{"strings.xml", strings_file("client", language, seed_for(changes, r))}});
    }
    for (const char* game : kGames) publish_game(game, version, r);
  }

  void publish_game(const std::string& game, const std::string& version, int r) {
    const bool changes = game == kRequestedGame;
    Contents contents = {
        {game + ".swf", "# " + game + ": the game's movie\n"},
        {"images/table.png", filler(game + "-table", seed_for(changes, r), 30000)}};
    if (changes && r > 1) {
      contents.emplace_back("images/bonus-" + std::to_string(r) + ".png",
                            filler(game + "-bonus", r, 5000));
    }
    package("games/" + game,
            {"common", game, version, "", "GAMES/" + game + "/", "games\\" + game + "\\", "", ""},
            contents);
    for (const char* code : kLanguages) {
      const std::string language = code;
      package("games/language/" + language + "/" + game,
              {language, game, version, "", "GAMES/language/" + language + "/" + game + "/",
               "games\\" + game + "\\language\\" + language + "\\", "", ""},
              {{"strings.xml", strings_file(game, language, 1)}});
    }
  }

  std::string settings_file() const { return filled(kSettingsTemplate); }
  std::string config_file() const { return filled(kConfigTemplate); }

  std::string filled(std::string text) const {
    const std::pair<std::string_view, std::string_view> kFields[] = {
        {"{base}", base_}, {"{key}", kSampleKey}, {"{update_key}", key_.public_key}};
    for (const auto& [field, value] : kFields) {
      for (auto at = text.find(field); at != std::string::npos; at = text.find(field, at)) {
        text.replace(at, field.size(), value);
        at += value.size();
      }
    }
    return text;
  }

  // What the launcher fetches by name from the url setting's address, and
  // the web pages the lobby opens.
  void write_server_files() {
    put(tree("launcher/setup.xml"), settings_file());
    put(tree("launcher/Config.xml"), config_file());
    put(tree("cashier/index.html"), "<html><body><h1>Cashier</h1></body></html>\n");
    put(tree("more/index.html"), "<html><body><h1>More games</h1></body></html>\n");
  }

  // The language menu serves three readers: the default language is the
  // code on the first line naming "English", the login's language path the
  // lang value on the line naming the code in quotes, and the menu reader
  // the entries between <lang_menu> and </lang_menu>.
  void write_client() {
    const std::string client = std::string(kSampleClient) + "/";
    put(client + "setup.xml", settings_file());
    put(client + "Config.xml", config_file());
    put(client + "app-popup/abb_language.xml",
        "<lang_menu>\n<menu name=\"en\" lang=\"language/en\">English</menu>\n"
        "<menu name=\"de\" lang=\"language/de\">Deutsch</menu>\n</lang_menu>\n");
    const Contents movies[] = {movie("checkUpdate", "Looking for updates", kCheckUpdateMovie),
                               movie("errorMsg", "Error", kErrorMovie),
                               movie("clearLogin", "Clearing the login", kCleanerMovie)};
    for (const Contents& files : movies) {
      for (const auto& [name, contents] : files) put(client + "app-popup/" + name, contents);
    }
    copy_page_files(client);
  }

  // The sample signs every release with one key, kept beside the tree (never
  // served), so that players of an earlier release accept the next one.
  void take_signing_key() {
    const auto kept = files_.read(path(kSampleSigningKey));
    std::string seed = kept ? kept->substr(0, kept->find('\n')) : std::string();
    if (const auto public_key = public_key_of(seed)) {
      key_ = {seed, *public_key};
      return;
    }
    const auto made = generate_key_pair();
    if (!made) {
      problems_.push_back("no signing key could be made");
      return;
    }
    key_ = *made;
    put(kSampleSigningKey, key_.private_key + "\n");
  }

  Files& files_;
  KeyPair key_;
  std::string dir_;
  std::string base_;
  std::string pages_;
  std::vector<std::string>& problems_;
};

}  // namespace

bool write_sample_client(Files& files, const std::string& dir, int release,
                         const std::string& base_url, std::vector<std::string>& problems,
                         const std::string& pages) {
  files.create_directory(dir);
  return SampleWriter(files, dir, base_url, pages, problems).write(release);
}

}  // namespace tarvel
