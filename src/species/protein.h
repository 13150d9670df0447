// The proteins of one species as read from its FASTA file.
#ifndef TARNEL_SPECIES_PROTEIN_H_
#define TARNEL_SPECIES_PROTEIN_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>
#include <thread>
#include <vector>

namespace tarnel {

/// Storage for the identifiers and sequences of one species. Texts are laid end to end in large
/// chunks, so a species costs a handful of allocations instead of two per protein, and a text
/// never moves once it is complete.
class TextArena {
 public:
  TextArena() = default;
  TextArena(TextArena&&) = default;
  TextArena& operator=(TextArena&&) = default;

  /// Stores a complete text.
  std::string_view store(std::string_view text);

  /// The text being built: `extend` appends to it, `take` completes it, `drop` abandons it.
  /// Only one text is built at a time, and `store` is not called while one is.
  void extend(std::string_view bytes) {
    // Inline, as it runs for every sequence line: a chunk has room for most lines.
    if (static_cast<std::size_t>(chunk_end_ - building_start_) - building_size_ < bytes.size()) {
      grow(bytes.size());
    }
    if (!bytes.empty()) std::memcpy(building_start_ + building_size_, bytes.data(), bytes.size());
    building_size_ += bytes.size();
  }
  std::string_view building() const { return {building_start_, building_size_}; }
  std::string_view take();
  void drop() { building_size_ = 0; }

  /// Gives back the chunk made ready ahead of need, once no more texts will be built.
  void release_spare() { spare_.reset(); }

  /// Bytes reserved from the system, for memory accounting in tests and benchmarks.
  std::size_t reserved_bytes() const { return reserved_; }

 private:
  struct Chunk {
    std::unique_ptr<char[]> bytes;
    std::size_t capacity = 0;
    std::size_t used = 0;
  };
  // The next large chunk, made ready on another thread while the current one fills.
  struct SpareChunk {
    SpareChunk() = default;
    SpareChunk(const SpareChunk&) = delete;
    SpareChunk& operator=(const SpareChunk&) = delete;
    ~SpareChunk() {
      if (preparer.joinable()) preparer.join();
    }
    std::thread preparer;
    std::unique_ptr<char[]> bytes;
    std::size_t capacity = 0;
  };
  // Makes room for `extra` more bytes behind the text being built, moving it if need be.
  void grow(std::size_t extra);
  Chunk new_chunk(std::size_t capacity);
  void prepare_spare(std::size_t capacity);

  std::vector<Chunk> chunks_;
  std::unique_ptr<SpareChunk> spare_;  // behind a pointer: its thread writes into it
  // The text being built starts at the first unused byte of the last chunk, which ends at
  // chunk_end_; both are null before the first chunk.
  char* building_start_ = nullptr;
  char* chunk_end_ = nullptr;
  std::size_t building_size_ = 0;
  std::size_t reserved_ = 0;
};

struct ProteinRecord {
  std::string_view identifier;       // header text after '>' up to the first blank, '|', tab or CR
  std::string_view sequence;         // all sequence lines joined, exactly as read
  std::uint64_t offset = 0;          // byte position of the header's '>' in the file
  std::int32_t ordinal = 0;          // 0-based position among the records of the file
  std::int64_t line = 0;             // 1-based line number of the header
  std::vector<std::int32_t> copies;  // positions of the later records with the same sequence
  bool is_copy = false;              // an earlier record has the same sequence
};

/// The records of one species and the storage of their texts. The records' views point into
/// the arena, which lives as long as the set.
struct ProteinSet {
  std::vector<ProteinRecord> records;
  TextArena text;

  std::size_t size() const { return records.size(); }
  ProteinRecord& operator[](std::size_t i) { return records[i]; }
  const ProteinRecord& operator[](std::size_t i) const { return records[i]; }

  /// Appends a record holding copies of the two texts, numbered as the next in input order.
  ProteinRecord& add(std::string_view identifier, std::string_view sequence);
};

}  // namespace tarnel

#endif  // TARNEL_SPECIES_PROTEIN_H_
