#include "update/manifest.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "tests/support/test_app.hpp"
#include "tests/support/test_http_server.hpp"
#include "update/download.hpp"
#include "update/package_install.hpp"
#include "update/self_update.hpp"

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
    accepted = handle_entry_line(t.app, line, entries);
    // Reading the line without making folders gives the same entry, or none;
    // only the folders on disk (a link in the way) can refuse more.
    const auto read = read_entry_line(line);
    if (accepted) {
      EXPECT_EQ(read ? EntryList{*read} : EntryList{}, entries) << line;
    }
    if (!read) {
      EXPECT_TRUE(entries.empty()) << line;
    }
    return entries;
  }
  testing::TestApp t;
  bool accepted = false;
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
               "a/.,.", "a/.,games\\.", "a/.,",
               // Named like a download's leftover: swept away after every install.
               "a/.x.swf.tarvel-part,games\\", "a/.x.tarvel-resume,", "a/.tarvel-part-1,",
               "a/x.swf,games\\.g.tarvel-part\\",
               // Named like an installation's own files: swept away, or read as a journal.
               "a/.x.swf.tarvel-new,games\\", "a/m.xml.tarvel-journal,"}) {
    EXPECT_EQ(handle(line), EntryList{}) << line;
    EXPECT_FALSE(accepted) << line;
  }
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(t.dir.path()).parent_path() / escape));
  EXPECT_FALSE(t.dir.exists("games"));
  EXPECT_FALSE(t.dir.exists("f"));
}

// The system call would see a shorter or different name than the one
// checked: "victim\0\\" is "victim".
TEST_F(EntryHandling, ControlCharactersAnywhereInANameAreRefused) {
  using namespace std::string_literals;
  for (const std::string& line :
       Strings{"COMMON/x.swf,victim\0\\"s, "a/x\0.swf,f\\"s, "a\0/../x.swf,f\\"s, "a/x.swf,f\x01\\",
               "a/x\x1b[2J.swf,f\\", "a/x.swf,f\\\x1f\\", "a/x\x7.swf,"}) {
    EXPECT_EQ(handle(line), EntryList{}) << line;
    EXPECT_FALSE(accepted) << line;
  }
  EXPECT_TRUE(t.files.list("").empty()) << "no folder was made";
  // White space in a folder is removed, not refused; a source path keeps its own.
  EXPECT_EQ(handle("a/x y.swf,f\t\\"), (EntryList{{"x y.swf", "f\\", "a/x y.swf"}}));
  EXPECT_TRUE(accepted);
}

TEST_F(EntryHandling, ALinkOnTheWayToTheFolderIsRefused) {
  testing::TempDir outside;
  ASSERT_EQ(::symlink(outside.path().c_str(), (t.dir / "games").c_str()), 0);
  EXPECT_EQ(handle("GAMES/slot/a.swf,games\\slot\\"), EntryList{});
  EXPECT_FALSE(accepted);
  EXPECT_EQ(handle("GAMES/a.swf,games\\"), EntryList{});
  EXPECT_FALSE(accepted);
  EXPECT_TRUE(testing::names_in(outside.path()).empty());
  EXPECT_EQ(handle("GAMES/a.swf,gamesx\\"), (EntryList{{"a.swf", "gamesx\\", "GAMES/a.swf"}}));
  EXPECT_TRUE(accepted);
}

TEST(HoldsLabel, WholeLabelsOnlyAndTheEmptyLabelEverywhere) {
  EXPECT_TRUE(holds_label("$version-1.1", "$version-1.1"));
  EXPECT_TRUE(holds_label("version=$version-1.1", "$version-1.1"));
  EXPECT_FALSE(holds_label("$version-1.10", "$version-1.1"));
  EXPECT_FALSE(holds_label("$version-1.1 beta", "$version-1.1"));
  EXPECT_FALSE(holds_label("a/$version-1.1,f\\", "$version-1.1"));
  EXPECT_FALSE(holds_label("$versionm-1.1", "$version-1.1"));
  EXPECT_TRUE(holds_label("$versionm-3", "$versionm-3"));
  EXPECT_TRUE(holds_label("anything", ""));
  EXPECT_TRUE(holds_label("", ""));
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
  // The paths in list order when fetched one at a time; in any order otherwise.
  Strings as_requested(Strings paths) {
    if (!testing::fetches_one_at_a_time(t.app)) std::sort(paths.begin(), paths.end());
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
  EXPECT_EQ(as_requested(fetched()), as_requested({"common/app-popup/login.swf", "games/slot/a.swf",
                                                   "base/docs/readme.txt"}));
  EXPECT_EQ(entries.size(), 3u) << "the list was emptied first";
}

TEST_F(Installation, FullManifestStopsAtTheFirstFailure) {
  served.write("base/a/1.swf", "1");
  served.write("base/a/3.swf", "3");
  EXPECT_FALSE(full("a/1.swf,\na/2.swf,\na/3.swf,\n"));
  EXPECT_FALSE(t.dir.exists("2.swf"));
  if (testing::fetches_one_at_a_time(t.app)) {
    EXPECT_EQ(t.dir.read("1.swf"), "1") << "what was fetched stays";
    EXPECT_FALSE(t.dir.exists("3.swf"));
    EXPECT_EQ(fetched(), (Strings{"base/a/1.swf", "base/a/2.swf"}));
  }
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
  EXPECT_EQ(as_requested(fetched()), (Strings{"base/a/y.swf", "base/a/z.swf"}));
}

TEST_F(DeltaInstallation, EqualLabelsFetchNothing) {
  ASSERT_TRUE(delta("$version-1.2", "$version-1.2"));
  EXPECT_TRUE(fetched().empty());
  EXPECT_TRUE(entries.empty());
  EXPECT_FALSE(t.dir.exists("f")) << "the manifest is not even read";
}

TEST_F(DeltaInstallation, LabelsMatchAsWholeLabelsAndEmptyMatchesTheFirstLine) {
  ASSERT_TRUE(delta("", "$version-1.2"));
  EXPECT_EQ(as_requested(fetched()), (Strings{"base/a/y.swf", "base/a/z.swf"}))
      << "first block skipped";
  t.dir.write("u.xml", "$version-1.10\na/x.swf,f\\\n$version-1.2\na/z.swf,f\\\n");
  EXPECT_FALSE(manifest_holds_label(t.app, "u.xml", "$version-1.1"));
  EXPECT_TRUE(manifest_holds_label(t.app, "u.xml", "$version-1.10"));
  ASSERT_TRUE(delta("$version-1.1", "$version-1.2"));
  EXPECT_EQ(fetched().size(), 2u) << "$version-1.10 is not $version-1.1";
}

TEST_F(DeltaInstallation, UnknownInstalledLabelCollectsNothing) {
  ASSERT_TRUE(delta("$version-0.9", "$version-1.2"));
  EXPECT_TRUE(fetched().empty());
}

TEST_F(DeltaInstallation, StopsAtTheFirstFailure) {
  server.set_fault("base/a/y.swf", Fault::reset_mid_body);
  EXPECT_FALSE(delta("$version-1.0", "$version-1.2"));
  // A reset may pass: it is tried three times more before it counts.
  if (testing::fetches_one_at_a_time(t.app)) {
    EXPECT_EQ(fetched(), Strings(4, "base/a/y.swf"));
  }
  EXPECT_FALSE(t.dir.exists("f/y.swf"));
}

// A refused line fails the whole installation before anything is fetched,
// and standard error names it.
TEST_F(Installation, HostileManifestFailsAndWritesNothingOutside) {
  const std::string escape = "escape-" + std::filesystem::path(t.dir.path()).filename().string();
  served.write("base/a/" + escape, "evil");
  served.write("base/a/good.swf", "good");
  const std::string climbing = "a/" + escape + ",games\\..\\..\\";
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(full("a/" + escape + ",..\\\n" + climbing + "\na/good.swf,ok\\\n"));
  const std::string said = ::testing::internal::GetCapturedStderr();
  EXPECT_TRUE(fetched().empty());
  EXPECT_TRUE(entries.empty());
  EXPECT_EQ(t.app.settings().take_status(), (Status{401, "Err=401"}));
  EXPECT_THAT(said, ::testing::HasSubstr("m.xml: refused the line \"" + climbing + "\""));
  EXPECT_THAT(said, ::testing::HasSubstr("\"a/" + escape + ",..\\\""));
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(t.dir.path()).parent_path() / escape));
}

TEST_F(Installation, ControlCharactersFailTheInstallAndDeleteNothing) {
  using namespace std::string_literals;
  t.dir.write("victim", "keep me");
  served.write("common/x.swf", "x");
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(full("$version-1.0\nCOMMON/x.swf,victim\0\\\n"s));
  const std::string said = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(t.dir.read("victim"), "keep me");
  EXPECT_TRUE(fetched().empty());
  EXPECT_THAT(said, ::testing::HasSubstr("\"COMMON/x.swf,victim\\x00\\\"")) << "shown escaped";
}

// With a link planted in the application directory the entry is refused; the
// file layer would not follow it either, so even a download aimed through
// it directly fails and writes nothing where the link points.
TEST_F(Installation, ALinkInTheApplicationDirectoryIsNeverFollowed) {
  testing::TempDir outside;
  ASSERT_EQ(::symlink(outside.path().c_str(), (t.dir / "games").c_str()), 0);
  served.write("games/slot/a.swf", "slot");
  outside.write("slot/victim.swf", "theirs");
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(full("$version-1.0\nGAMES/slot/a.swf,games\\slot\\\n"));
  EXPECT_THAT(::testing::internal::GetCapturedStderr(),
              ::testing::HasSubstr("\"GAMES/slot/a.swf,games\\slot\\\""));
  EXPECT_EQ(t.app.settings().take_status(), (Status{401, "Err=401"}));

  EXPECT_FALSE(download_file(t.app, server.url("games/slot/a.swf"), "games\\slot\\a.swf"));
  EXPECT_FALSE(download_file(t.app, server.url("games/slot/a.swf"), "games\\slot\\victim.swf"));
  EXPECT_FALSE(download_file(t.app, server.url("games/slot/a.swf"), "games\\new\\a.swf"));
  EXPECT_EQ(t.app.settings().take_status(), (Status{401, "Err=401"}));
  EXPECT_EQ(testing::names_in(outside.path()), Strings{"slot"});
  EXPECT_EQ(testing::names_in(outside / "slot"), Strings{"victim.swf"});
  EXPECT_EQ(outside.read("slot/victim.swf"), "theirs");
}

// A manifest is read whole, so its size is capped: one byte over fails
// before anything is read into entries or fetched.
TEST_F(Installation, AnOversizedManifestFailsUnread) {
  served.write("base/a/x", "x");
  {
    std::ofstream out(t.dir / "m.xml", std::ios::binary);
    const std::string block(1 << 20, '\n');
    out << "a/x,\n";
    for (int i = 0; i < 32; ++i) out << block;
  }
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(install_full_manifest(t.app, entries, "m.xml", root(), t.app.settings().url()));
  EXPECT_THAT(::testing::internal::GetCapturedStderr(), ::testing::HasSubstr("m.xml: larger than"));
  EXPECT_TRUE(fetched().empty());
  EXPECT_EQ(t.app.settings().take_status(), (Status{401, "Err=401"}));
  std::filesystem::resize_file(t.dir / "m.xml", std::size_t{32} << 20);
  EXPECT_TRUE(install_full_manifest(t.app, entries, "m.xml", root(), t.app.settings().url()))
      << "a manifest of exactly the limit is read";
  EXPECT_EQ(fetched(), Strings{"base/a/x"});
}

// Short lines cost far more as entries than as text: past a million files a
// manifest is refused rather than held.
TEST_F(Installation, AManifestOfMoreThanAMillionFilesIsRefused) {
  {
    std::ofstream out(t.dir / "m.xml", std::ios::binary);
    for (int i = 0; i <= 1'000'000; ++i) out << "a/b,\n";
  }
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(read_full_entries(t.app, "m.xml", entries));
  EXPECT_THAT(::testing::internal::GetCapturedStderr(),
              ::testing::HasSubstr("m.xml: lists more than 1000000 files, refused"));
  EXPECT_TRUE(entries.empty());
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
