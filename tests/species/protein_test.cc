// The text arena builds each sequence in place, line by line, and moves a text only when its
// chunk fills; every view handed out must keep its bytes whatever is built after it.
#include "species/protein.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <utility>
#include <vector>

namespace tarnel {
namespace {

TEST(TextArena, KeepsEveryTextAcrossChunksAndGrowingTexts) {
  TextArena arena;
  EXPECT_TRUE(arena.take().empty());
  arena.extend("");
  EXPECT_EQ(arena.reserved_bytes(), 0u);  // nothing asked of the system for nothing
  std::mt19937 random(11);
  std::vector<std::pair<std::string, std::string_view>> kept;
  // Up to 200,000 bytes a text: longer than the first chunks, so texts move while built.
  for (int i = 0; i < 400; ++i) {
    std::string text;
    for (auto pieces = random() % (i % 50 == 0 ? 3000 : 8); pieces > 0; --pieces) {
      const std::string piece(random() % 70, static_cast<char>('A' + random() % 26));
      arena.extend(piece);
      text += piece;
      ASSERT_EQ(arena.building(), text);
    }
    if (random() % 5 == 0) {
      arena.drop();  // an abandoned text leaves nothing behind
      ASSERT_TRUE(arena.building().empty());
    } else {
      kept.emplace_back(text, random() % 3 == 0 ? arena.store(text) : arena.take());
    }
  }
  for (const auto& [text, view] : kept) ASSERT_EQ(view, text);
}

TEST(TextArena, KeepsTheTextsOfALargeSpecies) {
  // Past the size where chunks are made ready ahead, with texts longer than a chunk among
  // them: a ready chunk of the wrong size must be set aside, not used.
  TextArena arena;
  std::vector<std::pair<std::string, std::string_view>> kept;
  std::size_t total = 0;
  for (int i = 0; total < (std::size_t{80} << 20); ++i) {
    const std::size_t length = i % 40 == 39 ? (std::size_t{20} << 20) + 7 : 300000 + i;
    std::string text(length, static_cast<char>('A' + i % 26));
    text[length / 2] = static_cast<char>('a' + i % 26);
    arena.extend(std::string_view(text).substr(0, length / 3));
    arena.extend(std::string_view(text).substr(length / 3));
    kept.emplace_back(std::move(text), arena.take());
    total += length;
  }
  for (const auto& [text, view] : kept) ASSERT_TRUE(view == text);
}

}  // namespace
}  // namespace tarnel
