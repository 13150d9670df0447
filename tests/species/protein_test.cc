// The text arena builds each sequence in place, line by line, and moves a text only when its
// chunk fills; every view handed out must keep its bytes whatever is built after it.
#include "species/protein.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace tarnel {
namespace {

TEST(TextArena, KeepsEveryTextAcrossChunksAndGrowingTexts) {
  std::mt19937 random(11);
  TextArena arena;
  std::vector<std::string> expected;
  std::vector<std::string_view> stored;
  // Up to 200,000 bytes a text: longer than the first chunks, so texts move while built.
  for (int i = 0; i < 400; ++i) {
    std::string text;
    const int pieces = static_cast<int>(random() % (i % 50 == 0 ? 3000 : 8));
    for (int p = 0; p < pieces; ++p) {
      std::string piece(random() % 70, static_cast<char>('A' + random() % 26));
      arena.extend(piece);
      text += piece;
      ASSERT_EQ(arena.building(), text);
    }
    if (random() % 5 == 0) {
      arena.drop();  // an abandoned text leaves nothing behind
      ASSERT_TRUE(arena.building().empty());
      continue;
    }
    stored.push_back(random() % 3 == 0 ? arena.store(text) : arena.take());
    expected.push_back(text);
  }
  for (std::size_t i = 0; i < stored.size(); ++i) {
    ASSERT_EQ(stored[i], expected[i]) << i;
  }
}

TEST(TextArena, EmptyTextsAndAppendsOfNothing) {
  TextArena arena;
  EXPECT_TRUE(arena.take().empty());
  arena.extend("");
  EXPECT_TRUE(arena.building().empty());
  EXPECT_EQ(arena.reserved_bytes(), 0u);  // nothing asked of the system for nothing
  const std::string_view a = arena.store("MK");
  arena.extend("");
  const std::string_view b = arena.take();
  EXPECT_EQ(a, "MK");
  EXPECT_TRUE(b.empty());
}

}  // namespace
}  // namespace tarnel
