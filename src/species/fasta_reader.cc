#include "species/fasta_reader.h"

#include <cerrno>
#include <cstring>
#include <limits>
#include <new>

#include "base/line_reader.h"
#include "species/compressed_source.h"

namespace tarnel {
namespace {

// Lets a caller-owned source be read through a LineReader that wants to own one.
class BorrowedSource final : public ByteSource {
 public:
  explicit BorrowedSource(ByteSource& source) : source_(source) {}
  std::ptrdiff_t read(char* buffer, std::size_t capacity) override {
    return source_.read(buffer, capacity);
  }
  std::uint64_t size_hint() const override { return source_.size_hint(); }

 private:
  ByteSource& source_;
};

// Counts the bytes taken from the file as stored, under any decompression, and keeps the
// system's reason when a read fails: by the time the failure is reported, other calls have
// come between.
class CountedSource final : public ByteSource {
 public:
  CountedSource(std::unique_ptr<ByteSource> source, InputUse& use)
      : source_(std::move(source)), use_(use) {}
  std::ptrdiff_t read(char* buffer, std::size_t capacity) override {
    const std::ptrdiff_t got = source_->read(buffer, capacity);
    if (got > 0) use_.bytes_read += static_cast<std::uint64_t>(got);
    if (got < 0) use_.error = errno;
    return got;
  }
  std::uint64_t size_hint() const override { return source_->size_hint(); }

 private:
  std::unique_ptr<ByteSource> source_;
  InputUse& use_;
};

std::string_view identifier_of(std::string_view header_text) {
  std::string_view rest = header_text.substr(1);  // after '>'
  for (std::size_t i = 0; i < rest.size(); ++i) {
    const char c = rest[i];
    if (c == ' ' || c == '|' || c == '\t' || c == '\r' || c == '\n') return rest.substr(0, i);
  }
  return rest;
}

std::string_view before_cr(std::string_view text) {
  const void* cr = std::memchr(text.data(), '\r', text.size());
  return cr == nullptr
             ? text
             : text.substr(0, static_cast<std::size_t>(static_cast<const char*>(cr) - text.data()));
}

// The record being collected: its identifier is stored when its header is met, its sequence is
// built in the arena line by line.
class PendingRecord {
 public:
  explicit PendingRecord(ProteinSet& proteins) : proteins_(proteins) {}

  bool has_identifier() const { return !identifier_.empty(); }
  bool has_sequence() const { return proteins_.text.building().size() != 0; }

  void start(std::string_view identifier, std::uint64_t offset, std::int64_t line) {
    proteins_.text.drop();
    identifier_ = proteins_.text.store(identifier);
    offset_ = offset;
    line_ = line;
  }
  void extend(std::string_view bytes) { proteins_.text.extend(bytes); }

  // Appends the record and empties the pending one; false when the set cannot take another.
  bool store() {
    if (proteins_.records.size() >=
        static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
      return false;
    }
    ProteinRecord& record = proteins_.records.emplace_back();
    record.identifier = identifier_;
    record.sequence = proteins_.text.take();
    record.offset = offset_;
    record.line = line_;
    record.ordinal = static_cast<std::int32_t>(proteins_.records.size() - 1);
    identifier_ = {};
    return true;
  }

 private:
  ProteinSet& proteins_;
  std::string_view identifier_;
  // Lines before the first header belong to a record without a header: position 0, line 0.
  std::uint64_t offset_ = 0;
  std::int64_t line_ = 0;
};

// Room for the records of a file of this size, so that the record list is not moved as it
// grows: each move of a large species' list was a fresh copy of it, page faults and all. A
// protein record rarely takes less than 256 bytes of its file; where they do, the list grows
// on from there. Room that is never filled is never touched, and costs no memory.
void reserve_records(ProteinSet& proteins, std::uint64_t file_bytes) {
  constexpr std::uint64_t kFewestBytesPerRecord = 256;
  const std::uint64_t expected = file_bytes / kFewestBytesPerRecord;
  if (expected <= proteins.records.capacity() || expected >= (std::uint64_t{1} << 31)) return;
  try {
    proteins.records.reserve(static_cast<std::size_t>(expected));
  } catch (const std::bad_alloc&) {
    // A size that cannot be reserved is left to the list's own growth.
  }
}

}  // namespace

bool read_fasta(ByteSource& source, Console& console, ProteinSet& proteins) {
  reserve_records(proteins, source.size_hint());
  LineReader reader(std::make_unique<BorrowedSource>(source));
  PendingRecord pending(proteins);
  std::int64_t line_number = 0;
  const auto fail = [&console](std::string_view message, std::int64_t number) {
    console << message << number;
    console.end_line();
    return false;
  };
  for (;;) {
    const std::uint64_t line_start = reader.position();
    const LineRead read = reader.read_line();
    if (read.status == ReadStatus::kReadError ||
        (read.status == ReadStatus::kTooLong && !read.bytes.empty() && read.bytes[0] != '\0')) {
      return fail("failed at line ", line_number + 1);
    }
    ++line_number;
    const std::string_view text = read.plain ? without_trailing_cr(read.bytes)
                                             : without_trailing_cr(text_before_nul(read.bytes));
    if (text.empty()) {
      if (!reader.end_reached()) return fail("empty line ", line_number);
      if (pending.has_sequence() && !pending.store()) return fail("failed at line ", line_number);
      return true;
    }
    if (text.front() == '>') {
      if (pending.has_sequence()) {
        if (!pending.store()) return fail("failed at line ", line_number);
      } else if (pending.has_identifier()) {
        return fail("no sequence at line ", line_number);
      }
      pending.start(identifier_of(text), line_start, line_number);
    } else {
      pending.extend(read.plain ? text : before_cr(text));
      // The rest of the sequence's lines, as far as they are plain and in the block.
      line_number +=
          reader.take_plain_lines('>', [&pending](std::string_view line) { pending.extend(line); });
    }
    if (reader.end_reached()) {
      if (pending.has_identifier() && pending.has_sequence() && !pending.store()) {
        return fail("failed at line ", line_number);
      }
      return true;
    }
  }
}

bool read_fasta(FileSystem& files, Console& console, const std::string& input_path,
                const std::string& file_name, ProteinSet& proteins, InputUse* use) {
  InputUse unused;
  InputUse& taken = use != nullptr ? *use : unused;
  const std::string path = input_path + file_name;
  errno = 0;
  std::unique_ptr<ByteSource> source = files.open_for_reading(path);
  if (source == nullptr) {
    taken.error = errno;
    console << "can't open input file " << path;
    console.end_line();
    return false;
  }
  source = decompress_if_gzip(std::make_unique<CountedSource>(std::move(source), taken));
  const bool complete = read_fasta(*source, console, proteins);
  proteins.text.release_spare();  // not held through the ordering and writing
  return complete;
}

}  // namespace tarnel
