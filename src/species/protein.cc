#include "species/protein.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <system_error>

#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif

#include "base/background_thread.h"
#include "base/performance_switches.h"

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
  if (!performance::kHugePages) return;
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

// Writes to every page of a fresh chunk, so that the system provides them all now: done on
// another thread, that cost overlaps the reading. In a virtual machine, a page the host has
// taken back costs far more than its zeroing; a species of a gigabyte spent a third of its
// time in such faults.
void provide_pages(char* bytes, std::size_t size) {
  volatile char* const pages = bytes;
  for (std::size_t i = 0; i < size; i += 4096) pages[i] = 0;
}

}  // namespace

void TextArena::prepare_spare(std::size_t capacity) {
  spare_ = std::make_unique<SpareChunk>();
  spare_->capacity = capacity;
  SpareChunk* const spare = spare_.get();
  try {
    spare->preparer = start_background_thread([spare] {
      // Without memory to spare, the chunk is left to be asked for when it is needed.
      spare->bytes.reset(new (std::nothrow) char[spare->capacity]);
      if (spare->bytes == nullptr) return;
      prefer_huge_pages(spare->bytes.get(), spare->capacity);
      provide_pages(spare->bytes.get(), spare->capacity);
    });
  } catch (const std::system_error&) {
    spare_.reset();  // no thread to spare: chunks come as they are needed
  }
}

TextArena::Chunk TextArena::new_chunk(std::size_t capacity) {
  if (spare_ != nullptr) {
    if (spare_->preparer.joinable()) spare_->preparer.join();
    if (spare_->capacity == capacity && spare_->bytes != nullptr) {
      Chunk ready{std::move(spare_->bytes), capacity, 0};
      spare_.reset();
      return ready;
    }
    spare_.reset();
  }
  Chunk fresh{std::unique_ptr<char[]>(new char[capacity]), capacity, 0};
  if (capacity >= kHugePagesFrom) prefer_huge_pages(fresh.bytes.get(), capacity);
  return fresh;
}

void TextArena::grow(std::size_t extra) {
  const std::size_t needed = building_size_ + extra;
  std::size_t capacity = chunks_.empty()
                             ? kFirstChunkBytes
                             : std::min(chunks_.back().capacity * 2, kLargestChunkBytes);
  // A text longer than a chunk gets room to double, so that building it stays linear.
  capacity = std::max(capacity, needed * 2);
  Chunk fresh = new_chunk(capacity);
  // A species that has filled a large chunk is likely to fill the next as well.
  const std::size_t next_capacity = std::min(capacity * 2, kLargestChunkBytes);
  if (performance::kSpareChunk && next_capacity >= kHugePagesFrom) prepare_spare(next_capacity);
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
