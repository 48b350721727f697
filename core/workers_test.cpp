#include "core/workers.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <stdexcept>

namespace tarvel {
namespace {

TEST(Workers, OneWorkerOfAKindAtATimeAndTheNextOnceItEnded) {
  Workers workers;
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  std::atomic<int> runs{0};
  ASSERT_TRUE(workers.start(WorkerKind::installation, [&] {
    released.wait();
    ++runs;
  }));
  EXPECT_TRUE(workers.running(WorkerKind::installation));
  EXPECT_FALSE(workers.start(WorkerKind::installation, [&] { ++runs; }));
  // Another kind is not held back.
  EXPECT_TRUE(workers.start(WorkerKind::update_check, [&] { ++runs; }));
  release.set_value();
  workers.join_all();
  EXPECT_FALSE(workers.running(WorkerKind::installation));
  EXPECT_TRUE(workers.start(WorkerKind::installation, [&] { ++runs; }));
  workers.join_all();
  EXPECT_EQ(runs.load(), 3);
}

TEST(Workers, WorkThatThrowsIsNamedAndReportedNeverTheEndOfTheProgram) {
  std::atomic<int> failures{0};
  Workers workers([&] { ++failures; });
  ::testing::internal::CaptureStderr();
  ASSERT_TRUE(workers.start(WorkerKind::update_check, [] { throw std::length_error("basic_string"); }));
  workers.join_all();
  ASSERT_TRUE(workers.start(WorkerKind::update_check, [] { throw 7; }));
  workers.join_all();
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "tarvel: background work stopped: basic_string\n"
            "tarvel: background work stopped on an unknown error\n");
  EXPECT_EQ(failures.load(), 2);
  EXPECT_FALSE(workers.running(WorkerKind::update_check));
}

TEST(Workers, TeardownAsksWorkToStopAndWaitsForIt) {
  std::atomic<bool> saw_stop{false};
  std::atomic<bool> ended{false};
  {
    Workers workers;
    ASSERT_TRUE(workers.start(WorkerKind::update_check, [&] {
      while (!workers.stop_requested()) std::this_thread::yield();
      saw_stop = true;
      ended = true;
    }));
  }
  EXPECT_TRUE(saw_stop.load());
  EXPECT_TRUE(ended.load());
}

TEST(Workers, NothingStartsOnceStopped) {
  Workers workers;
  workers.stop_and_join();
  EXPECT_FALSE(workers.start(WorkerKind::installation, [] {}));
}

}  // namespace
}  // namespace tarvel
