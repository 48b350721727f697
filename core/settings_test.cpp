#include "core/settings.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace tarvel {
namespace {

TEST(StatusPair, TakeReturnsBothAndResetsBoth) {
  Settings s;
  EXPECT_EQ(s.take_status(), (Status{0, ""}));
  s.set_status(202, "1,5,common,en");
  EXPECT_EQ(s.status(), (Status{202, "1,5,common,en"}));
  EXPECT_EQ(s.take_status(), (Status{202, "1,5,common,en"}));
  EXPECT_EQ(s.status(), (Status{0, ""}));
  EXPECT_EQ(error_text(401), "Err=401");
}

// Writers post pairs whose text names their code; a reader taking the pair
// must never see a code with another event's text.
TEST(StatusPair, WritersAndReaderNeverMixPairs) {
  Settings s;
  constexpr int kWrites = 20000;
  std::atomic<int> writers_done{0};
  std::atomic<int> mismatches{0};
  std::atomic<int> taken{0};
  auto writer = [&](int code) {
    for (int i = 0; i < kWrites; ++i) {
      s.set_status(code, error_text(code) + "#" + std::to_string(i));
      s.locked([](SettingsValues& v) { ++v.item_index; });
    }
    ++writers_done;
  };
  std::thread a(writer, 401);
  std::thread b(writer, 402);
  auto check = [&](const Status& st) {
    if (st.code == 0) return;
    ++taken;
    if (st.text.rfind(error_text(st.code) + "#", 0) != 0) ++mismatches;
  };
  std::thread reader([&] {
    while (writers_done < 2) check(s.take_status());
    check(s.take_status());  // the last pair written is still waiting
  });
  a.join();
  b.join();
  reader.join();
  EXPECT_EQ(mismatches, 0);
  EXPECT_GT(taken, 0);
  EXPECT_EQ(s.item_index(), 2 * kWrites) << "compound updates under the lock lose nothing";
}

}  // namespace
}  // namespace tarvel
