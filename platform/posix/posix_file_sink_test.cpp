#include "platform/posix/posix_file_sink.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/support/temp_dir.hpp"

namespace tarvel {
namespace {

using Names = std::vector<std::string>;
using testing::names_in;

constexpr const char* kAddress = "http://127.0.0.1:1/big.bin";

std::string bytes(std::size_t size) {
  std::string text(size, '\0');
  for (std::size_t i = 0; i < size; ++i) text[i] = static_cast<char>('a' + i % 23);
  return text;
}

// Writes the first `size` bytes of body, then breaks off as a dropped connection does.
void interrupted(PosixFileSink& sink, const std::string& body, std::size_t size,
                 const std::string& validator = "\"v1\"") {
  ASSERT_TRUE(sink.open(0, validator));
  ASSERT_TRUE(sink.write(body.data(), size));
  sink.interrupt();
}

// What a dropped connection leaves is found again by the next sink for the
// same target and address, even in another run, and only by that one.
TEST(PosixFileSink, APartWorthContinuingIsFoundAgainByTheSameDownload) {
  testing::TempDir dir;
  const std::string body = bytes(300 * 1024);
  {
    PosixFileSink first(dir / "big.bin", dir.path(), kAddress);
    EXPECT_EQ(first.resume_point().bytes, 0u);
    interrupted(first, body, 100 * 1024);
  }
  EXPECT_EQ(names_in(dir.path()), (Names{".big.bin.tarvel-part", ".big.bin.tarvel-resume"}));
  EXPECT_EQ(
      PosixFileSink(dir / "big.bin", dir.path(), "http://elsewhere/big.bin").resume_point().bytes,
      0u);

  PosixFileSink next(dir / "big.bin", dir.path(), kAddress);
  const ResumePoint held = next.resume_point();
  ASSERT_EQ(held.bytes, 100u * 1024);
  EXPECT_EQ(held.validator, "\"v1\"");
  // The last byte held is asked for again: the sink overwrites it.
  ASSERT_TRUE(next.open(held.bytes - 1, held.validator));
  ASSERT_TRUE(next.write(body.data() + held.bytes - 1, body.size() - held.bytes + 1));
  ASSERT_TRUE(next.commit());
  EXPECT_EQ(dir.read("big.bin"), body);
  EXPECT_EQ(names_in(dir.path()), Names{"big.bin"});
}

// A part that would cost as much to continue as to fetch again, or that no
// validator can vouch for, goes at once; so does a part abandoned or started over.
TEST(PosixFileSink, PartsNotWorthKeepingAreRemoved) {
  testing::TempDir dir;
  const std::string body = bytes(300 * 1024);
  {
    PosixFileSink small(dir / "small.bin", dir.path(), kAddress);
    interrupted(small, body, 1000);
    PosixFileSink unnamed(dir / "unnamed.bin", dir.path(), kAddress);
    interrupted(unnamed, body, 200 * 1024, "");
    PosixFileSink no_address(dir / "no_address.bin", dir.path());
    interrupted(no_address, body, 200 * 1024);
  }
  EXPECT_EQ(names_in(dir.path()), Names{});

  PosixFileSink sink(dir / "big.bin", dir.path(), kAddress);
  interrupted(sink, body, 200 * 1024);
  ASSERT_EQ(sink.resume_point().bytes, 200u * 1024);
  ASSERT_TRUE(sink.open(0, "\"v2\""));
  EXPECT_EQ(names_in(dir.path()), Names{".big.bin.tarvel-part"}) << "the old note is gone";
  sink.abandon();
  EXPECT_EQ(names_in(dir.path()), Names{});
}

// A body started over (a 200 answer to a range request) is a new body with
// a note of its own once it is worth continuing.
TEST(PosixFileSink, ABodyStartedOverGetsANoteOfItsOwn) {
  testing::TempDir dir;
  const std::string body = bytes(300 * 1024);
  {
    PosixFileSink first(dir / "big.bin", dir.path(), kAddress);
    interrupted(first, body, 100 * 1024);
  }
  {
    PosixFileSink second(dir / "big.bin", dir.path(), kAddress);
    ASSERT_EQ(second.resume_point().bytes, 100u * 1024);
    interrupted(second, body, 150 * 1024, "\"v2\"");
  }
  const ResumePoint held = PosixFileSink(dir / "big.bin", dir.path(), kAddress).resume_point();
  EXPECT_EQ(held.bytes, 150u * 1024);
  EXPECT_EQ(held.validator, "\"v2\"");
}

// Anything but a plain file under the part's or the note's name is a
// leftover: it never blocks the download (a FIFO) or fails it (a folder).
TEST(PosixFileSink, AFifoOrFolderUnderItsNamesIsALeftover) {
  testing::TempDir dir;
  ASSERT_EQ(::mkfifo((dir / ".big.bin.tarvel-resume").c_str(), 0644), 0);
  dir.write(".big.bin.tarvel-part/inside", "x");
  PosixFileSink sink(dir / "big.bin", dir.path(), kAddress);
  EXPECT_EQ(sink.resume_point().bytes, 0u);
  ASSERT_TRUE(sink.open(0, "\"v\""));
  ASSERT_TRUE(sink.write("body", 4));
  ASSERT_TRUE(sink.commit());
  EXPECT_EQ(dir.read("big.bin"), "body");
  EXPECT_EQ(names_in(dir.path()), Names{"big.bin"});
}

TEST(PartialLeftovers, EveryLeftoverGoesButOneStillBeingWritten) {
  testing::TempDir dir;
  testing::TempDir outside;
  outside.write("precious", "keep");
  for (const char* name :
       {".a.swf.tarvel-part", ".a.swf.tarvel-resume", ".b.swf.tarvel-resume", ".tarvel-part-Xy12Zz",
        "a.swf", ".hidden", "x.tarvel-part", ".tarvel-part", "sub/.c.tarvel-part"}) {
    dir.write(name, "x");
  }
  ASSERT_EQ(::symlink((outside / "precious").c_str(), (dir / ".d.swf.tarvel-part").c_str()), 0);
  PosixFileSink writing(dir / "e.swf", dir.path(), kAddress);
  ASSERT_TRUE(writing.open(0, "\"v\""));

  remove_stray_partials(dir.path(), dir / "a.swf");
  EXPECT_EQ(names_in(dir.path()), (Names{".e.swf.tarvel-part", ".hidden", ".tarvel-part", "a.swf",
                                         "sub", "x.tarvel-part"}));
  EXPECT_EQ(outside.read("precious"), "keep") << "a link is removed, never followed";
  EXPECT_TRUE(dir.exists("sub/.c.tarvel-part")) << "only the folder itself is swept";
  ASSERT_TRUE(writing.commit());
  EXPECT_EQ(dir.read("e.swf"), "");
}

}  // namespace
}  // namespace tarvel
