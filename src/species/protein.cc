#include "species/protein.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace tarnel {
namespace {

// Big enough that the space left at a chunk's end is negligible, small enough that a species
// of a few proteins does not reserve much.
constexpr std::size_t kFirstChunkBytes = std::size_t{1} << 16;
constexpr std::size_t kLargestChunkBytes = std::size_t{1} << 24;
constexpr std::size_t kHugePagesFrom = std::size_t{1} << 22;

// Asks for huge pages under a large chunk. A large species fills hundreds of megabytes of
// fresh memory, and with 4 KiB pages it took a fault for every one of them; ordering and
// writing then visit the texts in scattered order, missing the TLB at almost every protein.
void prefer_huge_pages(char* bytes, std::size_t size) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
  const auto start = reinterpret_cast<std::uintptr_t>(bytes);
  const std::uintptr_t begin = (start + page - 1) / page * page;
  const std::uintptr_t end = (start + size) / page * page;
  // Only advice: where it is refused, the chunk works as well with small pages.
  if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
  (void)bytes;
  (void)size;
#endif
}

}  // namespace

void TextArena::grow(std::size_t extra) {
  const std::size_t needed = building_size_ + extra;
  std::size_t capacity = chunks_.empty()
                             ? kFirstChunkBytes
                             : std::min(chunks_.back().capacity * 2, kLargestChunkBytes);
  // A text longer than a chunk gets room to double, so that building it stays linear.
  capacity = std::max(capacity, needed * 2);
  Chunk fresh{std::unique_ptr<char[]>(new char[capacity]), capacity, 0};
  if (capacity >= kHugePagesFrom) prefer_huge_pages(fresh.bytes.get(), capacity);
  if (building_size_ > 0) std::memcpy(fresh.bytes.get(), building_start_, building_size_);
  // A chunk that held nothing but the text being built is no longer needed.
  if (!chunks_.empty() && chunks_.back().used == 0) {
    reserved_ -= chunks_.back().capacity;
    chunks_.pop_back();
  }
  reserved_ += capacity;
  building_start_ = fresh.bytes.get();
  chunk_end_ = building_start_ + capacity;
  chunks_.push_back(std::move(fresh));
}

std::string_view TextArena::take() {
  const std::string_view text = building();
  if (!chunks_.empty()) chunks_.back().used += building_size_;
  building_start_ += building_size_;
  building_size_ = 0;
  return text;
}

std::string_view TextArena::store(std::string_view text) {
  drop();
  extend(text);
  return take();
}

ProteinRecord& ProteinSet::add(std::string_view identifier, std::string_view sequence) {
  ProteinRecord record;
  record.identifier = text.store(identifier);
  record.sequence = text.store(sequence);
  record.ordinal = static_cast<std::int32_t>(records.size());
  records.push_back(std::move(record));
  return records.back();
}

}  // namespace tarnel
