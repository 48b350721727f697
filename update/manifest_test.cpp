#include "update/manifest.hpp"

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/test_app.hpp"
#include "tests/support/test_http_server.hpp"

namespace tarvel {
namespace {

using Fault = testing::TestHttpServer::Fault;
using Strings = std::vector<std::string>;

// --- Readers over files in the application directory ---

struct ManifestReaders : ::testing::Test {
  testing::TestApp t;
};

TEST_F(ManifestReaders, VersionLabelIsTheLastHeaderMandatoryIncluded) {
  t.dir.write("m.xml", "$version-1.0\na/x.swf,f\\\nnote $version-1.1 here\r\n$versionm-3");
  EXPECT_EQ(read_version_label(t.app, "m.xml"), "$versionm-3");
  EXPECT_EQ(read_mandatory_label(t.app, "m.xml"), "$versionm-3");
  t.dir.write("n.xml", "$versionm-2\n$version-1.4\n");
  EXPECT_EQ(read_version_label(t.app, "n.xml"), "$version-1.4");
  EXPECT_EQ(read_mandatory_label(t.app, "n.xml"), "$versionm-2");
  EXPECT_EQ(read_version_label(t.app, "missing.xml"), "");
  EXPECT_EQ(read_mandatory_label(t.app, "missing.xml"), "");
}

TEST_F(ManifestReaders, VersionTypeIsTheFirstKeyedLine) {
  t.dir.write("a.xml", "url=x\nversion_type=\nversion_type=full\n");
  EXPECT_EQ(read_version_type(t.app, "a.xml"), "");
  t.dir.write("b.xml", "version_type_note\nversion_type=full\nversion_type=flash\n");
  EXPECT_EQ(read_version_type(t.app, "b.xml"), "full");
  t.dir.write("c.xml", "x=1 version_type=a=b");
  EXPECT_EQ(read_version_type(t.app, "c.xml"), "1 version_type=a=b");
  EXPECT_EQ(read_version_type(t.app, "missing.xml"), "");
}

TEST_F(ManifestReaders, CountEntriesCountsEveryCommaLineAndResetsIndex) {
  t.dir.write("u.xml", "$version-1.0\na/x.swf,f\\\n$version-1.1\na/y.swf,f\\\nno comma\n,\n");
  t.app.settings().set_item_index(7);
  count_entries(t.app, "u.xml");
  EXPECT_EQ(t.app.settings().item_count(), 3);
  EXPECT_EQ(t.app.settings().item_index(), 0);
  count_entries(t.app, "missing.xml");
  EXPECT_EQ(t.app.settings().item_count(), 0);
}

// --- Pure rules ---

TEST(ManifestName, NormalisedPartsEmptyOnesLeftOut) {
  EXPECT_EQ(build_manifest_name("common", "Video Poker", "install"),
            "common_video_poker_install.xml");
  EXPECT_EQ(build_manifest_name("update", "login", "update"), "update_login_update.xml");
  EXPECT_EQ(build_manifest_name("", "Slot Game", "update"), "slot_game_update.xml");
  EXPECT_EQ(build_manifest_name("EN", "", "install"), "en_install.xml");
}

TEST(TargetFolders, PrefixesEndAtEachBackslash) {
  EXPECT_EQ(target_folder_prefixes("app-popup\\images\\"),
            (Strings{"app-popup", "app-popup\\images"}));
  EXPECT_EQ(target_folder_prefixes("app-popup\\images"), (Strings{"app-popup"}));
  EXPECT_EQ(target_folder_prefixes("images"), Strings{});
  EXPECT_EQ(target_folder_prefixes(""), Strings{});
  EXPECT_EQ(target_folder_prefixes("a/b\\"), (Strings{"a/b"})) << "\"/\" is no separator here";
  EXPECT_EQ(target_folder_prefixes("\\\\a\\"), (Strings{"\\", "\\\\a"}));
}

TEST(StaysInside, RefusesEveryWayOut) {
  for (const char* inside : {"", "games\\slot\\", "app-popup\\images", "a.b\\c..d\\", ".\\x\\",
                             "file.swf", "..hidden", "x..", "a\\.\\b\\"}) {
    EXPECT_TRUE(stays_inside(inside)) << inside;
  }
  for (const char* outside :
       {"..", "..\\", "..\\evil\\", "games\\..\\..\\", "a/../../", "../", "\\abs\\", "/etc/",
        "C:\\Windows\\", "c:evil\\", "a\\b:c\\", "...\\", ". .\\", "a\\..\\", "..."}) {
    EXPECT_FALSE(stays_inside(outside)) << outside;
  }
}

TEST(EntryTransfer, AddressByPrefixLocalPathByConcatenation) {
  const auto transfer = [](const std::string& remote, const std::string& folder = "f\\") {
    return entry_transfer({"n.swf", folder, remote}, "C/", "G/", "L\\", "U/");
  };
  EXPECT_EQ(transfer("COMMON/app-popup/login.swf").address, "C/app-popup/login.swf");
  EXPECT_EQ(transfer("COMMONX/a.swf").address, "C//a.swf") << "only six letters compared";
  EXPECT_EQ(transfer("COMMON/x").address, "C/x");
  EXPECT_EQ(transfer("COMMON").address, "C/");
  EXPECT_EQ(transfer("GAMES/slot/a.swf").address, "G/slot/a.swf");
  EXPECT_EQ(transfer("commons/x").address, "U/commons/x");
  EXPECT_EQ(transfer("GAME/x").address, "U/GAME/x");
  EXPECT_EQ(transfer("a/b.swf").local_path, "L\\f\\n.swf");
  EXPECT_EQ(transfer("a/b.swf", "sub").local_path, "L\\subn.swf");
}

// --- Entry handling: files and folders ---

struct EntryHandling : ::testing::Test {
  EntryList handle(const std::string& line) {
    EntryList entries;
    handle_entry_line(t.app, line, entries);
    // Reading the line without making folders gives the same entry, or none.
    const auto read = read_entry_line(line);
    EXPECT_EQ(read ? EntryList{*read} : EntryList{}, entries) << line;
    return entries;
  }
  testing::TestApp t;
};

TEST_F(EntryHandling, SplitsAtFirstCommaAndStripsAllWhiteSpace) {
  EXPECT_EQ(handle("COMMON\\app-popup\\login.swf, app popup\\ \t,x"),
            (EntryList{{"login.swf", "apppopup\\,x", "COMMON/app-popup/login.swf"}}));
  EXPECT_TRUE(t.dir.exists("apppopup"));
}

TEST_F(EntryHandling, FolderWithoutTrailingBackslashCreatesNothing) {
  EXPECT_EQ(handle("dir/file.swf,sub"), (EntryList{{"file.swf", "sub", "dir/file.swf"}}));
  EXPECT_FALSE(t.dir.exists("sub"));
}

TEST_F(EntryHandling, SourceWithoutFileNameStillCreatesFolders) {
  EXPECT_EQ(handle("nofolder.swf,made\\here\\"), EntryList{});
  EXPECT_EQ(handle("ends/with/,other\\"), EntryList{});
  EXPECT_TRUE(t.dir.exists("made/here"));
  EXPECT_TRUE(t.dir.exists("other"));
}

// A hostile line adds nothing and creates nothing, here or anywhere else.
TEST_F(EntryHandling, HostileLinesAreRefused) {
  const std::string escape = "escape-" + std::filesystem::path(t.dir.path()).filename().string();
  for (const std::string& line :
       Strings{"a/x.swf,..\\" + escape + "\\", "a/x.swf,games\\..\\..\\" + escape + "\\",
               "a/x.swf," + t.dir.path() + "\\..\\" + escape + "\\", "a/x.swf,C:\\" + escape + "\\",
               "a/x.swf,a/../../" + escape + "/", "a/..,games\\", "a\\..,", "a/x:y.swf,f\\",
               "a/.,.", "a/.,games\\.", "a/.,"}) {
    EXPECT_EQ(handle(line), EntryList{}) << line;
  }
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(t.dir.path()).parent_path() / escape));
  EXPECT_FALSE(t.dir.exists("games"));
  EXPECT_FALSE(t.dir.exists("f"));
}

TEST_F(EntryHandling, CreateTargetFoldersIgnoresExistingAndRefusesEscapes) {
  create_target_folders(t.app, "app-popup\\images\\");
  create_target_folders(t.app, "app-popup\\images\\");
  EXPECT_TRUE(t.dir.exists("app-popup/images"));
  create_target_folders(t.app, "games\\..\\..\\out\\");
  EXPECT_FALSE(t.dir.exists("games"));
}

// --- Installation against a loopback server ---

struct Installation : ::testing::Test {
  Installation() {
    Settings& s = t.app.settings();
    s.set_url(server.url("base/"));
    s.set_common_url(server.url("common/"));
    s.set_game_url(server.url("games/"));
  }

  bool full(const std::string& manifest) {
    t.dir.write("m.xml", manifest);
    return install_full_manifest(t.app, entries, "m.xml", root(), t.app.settings().url());
  }
  bool delta(const std::string& installed, const std::string& server_label) {
    return install_manifest_delta(t.app, entries, "u.xml", root(), t.app.settings().url(),
                                  installed, server_label);
  }
  Strings fetched() const {
    Strings paths;
    for (const auto& request : server.requests()) paths.push_back(request.path);
    return paths;
  }
  std::string root() const { return t.app.settings().application_directory(); }

  testing::TempDir served;
  testing::TestHttpServer server{served.path()};
  testing::TestApp t;
  EntryList entries{{"stale", "", ""}};
};

TEST_F(Installation, FullManifestFetchesEachEntryFromItsBase) {
  served.write("common/app-popup/login.swf", "login");
  served.write("games/slot/a.swf", "slot");
  served.write("base/docs/readme.txt", "hello");
  ASSERT_TRUE(
      full("$version-1.0\nCOMMON/app-popup/login.swf,app-popup\\\n"
           "GAMES/slot/a.swf,games\\slot\\\nreadme.txt,\ndocs\\readme.txt,\n"));
  EXPECT_EQ(t.dir.read("app-popup/login.swf"), "login");
  EXPECT_EQ(t.dir.read("games/slot/a.swf"), "slot");
  EXPECT_EQ(t.dir.read("readme.txt"), "hello");
  EXPECT_EQ(fetched(),
            (Strings{"common/app-popup/login.swf", "games/slot/a.swf", "base/docs/readme.txt"}));
  EXPECT_EQ(entries.size(), 3u) << "the list was emptied first";
}

TEST_F(Installation, FullManifestStopsAtTheFirstFailure) {
  served.write("base/a/1.swf", "1");
  served.write("base/a/3.swf", "3");
  EXPECT_FALSE(full("a/1.swf,\na/2.swf,\na/3.swf,\n"));
  EXPECT_EQ(t.dir.read("1.swf"), "1") << "what was fetched stays";
  EXPECT_FALSE(t.dir.exists("2.swf"));
  EXPECT_FALSE(t.dir.exists("3.swf"));
  EXPECT_EQ(fetched(), (Strings{"base/a/1.swf", "base/a/2.swf"}));
  EXPECT_EQ(t.app.settings().take_status(), (Status{401, "Err=401"}));
}

TEST_F(Installation, MissingOrEmptyManifestInstallsNothing) {
  EXPECT_TRUE(install_full_manifest(t.app, entries, "missing.xml", root(), "x"));
  EXPECT_TRUE(entries.empty());
  EXPECT_TRUE(full("$version-1.0\n"));
  EXPECT_TRUE(fetched().empty());
}

TEST_F(Installation, ProgressCountsTheWholeList) {
  for (const char* name : {"1", "2", "3"}) served.write(std::string("base/a/") + name, name);
  t.dir.write("m.xml", "a/1,\na/2,\na/3,\n");
  count_entries(t.app, "m.xml");
  ASSERT_TRUE(install_full_manifest(t.app, entries, "m.xml", root(), t.app.settings().url()));
  EXPECT_EQ(t.app.settings().item_index(), 3);
  EXPECT_EQ(t.app.settings().take_status(), (Status{202, "2,3,,"}));
}

struct DeltaInstallation : Installation {
  DeltaInstallation() {
    for (const char* name : {"x", "y", "z"})
      served.write(std::string("base/a/") + name + ".swf", name);
    t.dir.write(
        "u.xml",
        "$version-1.0\na/x.swf,f\\\n$version-1.1\na/y.swf,f\\\n$version-1.2\na/z.swf,f\\\n");
  }
};

TEST_F(DeltaInstallation, FetchesOnlyWhatFollowsTheInstalledVersion) {
  ASSERT_TRUE(delta("$version-1.1", "$version-1.2"));
  EXPECT_EQ(fetched(), (Strings{"base/a/z.swf"}));
  EXPECT_EQ(t.dir.read("f/z.swf"), "z");
}

TEST_F(DeltaInstallation, OlderInstallFetchesEveryLaterVersion) {
  ASSERT_TRUE(delta("$version-1.0", "$version-1.2"));
  EXPECT_EQ(fetched(), (Strings{"base/a/y.swf", "base/a/z.swf"}));
}

TEST_F(DeltaInstallation, EqualLabelsFetchNothing) {
  ASSERT_TRUE(delta("$version-1.2", "$version-1.2"));
  EXPECT_TRUE(fetched().empty());
  EXPECT_TRUE(entries.empty());
  EXPECT_FALSE(t.dir.exists("f")) << "the manifest is not even read";
}

TEST_F(DeltaInstallation, LabelsMatchBySubstringAndEmptyMatchesTheFirstLine) {
  ASSERT_TRUE(delta("", "$version-1.2"));
  EXPECT_EQ(fetched(), (Strings{"base/a/y.swf", "base/a/z.swf"})) << "first block skipped";
  t.dir.write("u.xml", "$version-1.10\na/x.swf,f\\\n$version-1.2\na/z.swf,f\\\n");
  ASSERT_TRUE(delta("$version-1.1", "$version-1.2"));
  EXPECT_EQ(fetched().back(), "base/a/z.swf");
  EXPECT_EQ(fetched().size(), 3u);
}

TEST_F(DeltaInstallation, UnknownInstalledLabelCollectsNothing) {
  ASSERT_TRUE(delta("$version-0.9", "$version-1.2"));
  EXPECT_TRUE(fetched().empty());
}

TEST_F(DeltaInstallation, StopsAtTheFirstFailure) {
  server.set_fault("base/a/y.swf", Fault::reset_mid_body);
  EXPECT_FALSE(delta("$version-1.0", "$version-1.2"));
  EXPECT_EQ(fetched(), (Strings{"base/a/y.swf"}));
  EXPECT_FALSE(t.dir.exists("f/y.swf"));
}

TEST_F(Installation, HostileManifestWritesNothingOutside) {
  const std::string escape = "escape-" + std::filesystem::path(t.dir.path()).filename().string();
  served.write("base/a/" + escape, "evil");
  served.write("base/a/good.swf", "good");
  ASSERT_TRUE(full("a/" + escape + ",..\\\na/" + escape + ",games\\..\\..\\\na/good.swf,ok\\\n"));
  EXPECT_EQ(fetched(), (Strings{"base/a/good.swf"}));
  EXPECT_EQ(t.dir.read("ok/good.swf"), "good");
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(t.dir.path()).parent_path() / escape));
}

// --- Launcher update check ---

struct LauncherUpdate : Installation {
  std::string check(const std::string& server_copy) {
    served.write("base/setup.xml", server_copy);
    return check_launcher_update(t.app);
  }
};

TEST_F(LauncherUpdate, DifferentVersionLineGivesTheVersionType) {
  t.app.settings().set_version("$version-1.1");
  EXPECT_EQ(check("url=x\nversion=$version-1.2\nversion_type=exe\n"), "exe");
  EXPECT_EQ(t.app.settings().server_settings_copy_name(), "glo_stp.xml");
  EXPECT_EQ(fetched(), (Strings{"base/setup.xml"}));
  EXPECT_TRUE(t.dir.exists("glo_stp.xml")) << "kept for the self-update";
}

TEST_F(LauncherUpdate, SameVersionOrNoTypeMeansCurrent) {
  t.app.settings().set_version("$version-1.1");
  EXPECT_EQ(check("version=$version-1.1\nversion_type=exe\n"), "");
  EXPECT_EQ(check("version=$version-1.2\n"), "");
  EXPECT_EQ(check("no dollar here\nversion_type=full\n"), "");
  EXPECT_EQ(check("a=$version-1.1\nb=$version-2\nversion_type=flash\n"), "flash");
}

TEST_F(LauncherUpdate, UnreachableCopyMeansCurrent) {
  t.app.settings().set_version("$version-1.1");
  t.dir.write("glo_stp.xml", "version=$version-9\nversion_type=full\n");
  server.set_fault("base/setup.xml", Fault::not_found);
  EXPECT_EQ(check("version=$version-1.2\nversion_type=full\n"), "");
  EXPECT_FALSE(t.dir.exists("glo_stp.xml")) << "a stale copy must not decide";
}

}  // namespace
}  // namespace tarvel
