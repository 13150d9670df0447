#include "species/sequence_index.h"

#include <cstring>

#include "species/memory_prefetch.h"

namespace tarnel {
namespace {

std::uint64_t load64(const char* p) {
  std::uint64_t value;
  std::memcpy(&value, p, sizeof value);
  return value;
}

__extension__ typedef unsigned __int128 Product128;

std::uint64_t mix(std::uint64_t a, std::uint64_t b) {
  const Product128 product = static_cast<Product128>(a) * b;
  return static_cast<std::uint64_t>(product) ^ static_cast<std::uint64_t>(product >> 64);
}

constexpr std::uint64_t kPrime0 = 0xa0761d6478bd642fULL;
constexpr std::uint64_t kPrime1 = 0xe7037ed1a0b428dbULL;
constexpr std::uint64_t kPrime2 = 0x8ebc6af09c88c6e3ULL;

}  // namespace

// Sixteen bytes at a time into each of two states, each step a 128-bit multiply-fold: the two
// chains of multiplies run side by side, so a long sequence hashes at about twice the speed
// of one chain. Well spread, so that unrelated sequences rarely share a slot run.
std::uint64_t SequenceIndex::hash(std::string_view bytes) {
  const char* p = bytes.data();
  std::size_t n = bytes.size();
  std::uint64_t state = kPrime0 ^ (n * kPrime1);
  if (n >= 32) {
    std::uint64_t other = state ^ kPrime2;
    do {
      state = mix(load64(p) ^ kPrime1, load64(p + 8) ^ state);
      other = mix(load64(p + 16) ^ kPrime2, load64(p + 24) ^ other);
      p += 32;
      n -= 32;
    } while (n >= 32);
    state ^= other;
  }
  while (n >= 16) {
    state = mix(load64(p) ^ kPrime1, load64(p + 8) ^ state);
    p += 16;
    n -= 16;
  }
  if (n >= 8) {
    state = mix(load64(p) ^ kPrime1, state ^ kPrime2);
    p += 8;
    n -= 8;
  }
  std::uint64_t tail = 0;
  if (n > 0) std::memcpy(&tail, p, n);
  return mix(tail ^ kPrime2, state ^ kPrime0);
}

SequenceIndex::SequenceIndex(const ProteinSet& proteins, std::size_t expected_entries)
    : proteins_(proteins) {
  std::size_t capacity = 16;
  // At most half full, so probe runs stay short.
  while (capacity < expected_entries * 2) capacity *= 2;
  slots_.resize(capacity);
  mask_ = capacity - 1;
}

std::uint64_t SequenceIndex::hash_of(std::int32_t position) const {
  const std::uint64_t h = hash(proteins_[static_cast<std::size_t>(position)].sequence);
  ask_for(&slots_[h & mask_]);
  return h;
}

std::optional<std::int32_t> SequenceIndex::insert_or_find(std::int32_t position, std::uint64_t h) {
  const std::string_view key = proteins_[static_cast<std::size_t>(position)].sequence;
  const auto tag = static_cast<std::uint32_t>(h >> 32);
  for (std::size_t i = h & mask_;; i = (i + 1) & mask_) {
    Slot& slot = slots_[i];
    if (slot.position < 0) {
      slot.hash_tag = tag;
      slot.position = position;
      return std::nullopt;
    }
    if (slot.hash_tag == tag &&
        proteins_[static_cast<std::size_t>(slot.position)].sequence == key) {
      return slot.position;
    }
  }
}

}  // namespace tarnel
