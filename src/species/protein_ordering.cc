#include "species/protein_ordering.h"

#include <cstring>
#include <limits>
#include <vector>

#include "species/introspective_sort.h"

namespace tarnel {
namespace {

// Byte order as unsigned values, a proper prefix first; memcmp compares unsigned bytes.
int compare_bytes(std::string_view a, std::string_view b) {
  const std::size_t common = a.size() < b.size() ? a.size() : b.size();
  const int order = common == 0 ? 0 : std::memcmp(a.data(), b.data(), common);
  if (order != 0) return order;
  return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

// What the sort moves and compares in place of a record: its position, its sequence length and
// the leading bytes of the text compared after the length. Most comparisons are decided by these
// alone, without a visit to the record or its texts, which lie scattered over memory.
struct SortKey {
  std::uint64_t leading = 0;  // first 8 bytes, big-endian, zero beyond the text's end
  std::uint32_t length = 0;   // kLengthUnknown when the length does not fit
  std::int32_t position = 0;
};

constexpr std::uint32_t kLengthUnknown = std::numeric_limits<std::uint32_t>::max();

// Two texts whose leading values differ compare as these values do: a text that ends early
// reads as zero bytes, which sort first, as a prefix does. Equal values decide nothing (the
// texts may differ further on, or in a NUL against an end).
std::uint64_t leading_bytes(std::string_view text) {
  unsigned char bytes[8] = {};
  // An empty text may have no storage at all.
  if (!text.empty()) {
    std::memcpy(bytes, text.data(), text.size() < sizeof bytes ? text.size() : sizeof bytes);
  }
  std::uint64_t value = 0;
  for (const unsigned char byte : bytes) value = value << 8 | byte;
  return value;
}

// Each answers exactly as compare_proteins does, so the sort makes the same exchanges.
struct ByLength {
  const std::vector<ProteinRecord>* records;
  std::int32_t ordering;
  bool operator()(const SortKey& a, const SortKey& b) const {
    if (a.length != b.length) {
      return ordering == ordering::kLongestFirst ? a.length > b.length : a.length < b.length;
    }
    // Equal lengths: the sequences differ in their leading bytes or the records must be read.
    if (a.leading != b.leading && a.length != kLengthUnknown) return a.leading < b.leading;
    return compare_proteins((*records)[static_cast<std::size_t>(a.position)],
                            (*records)[static_cast<std::size_t>(b.position)], ordering);
  }
};

struct ByIdentifier {
  const std::vector<ProteinRecord>* records;
  bool operator()(const SortKey& a, const SortKey& b) const {
    if (a.leading != b.leading) return a.leading < b.leading;
    return compare_proteins((*records)[static_cast<std::size_t>(a.position)],
                            (*records)[static_cast<std::size_t>(b.position)],
                            ordering::kByIdentifier);
  }
};

}  // namespace

bool compare_proteins(const ProteinRecord& a, const ProteinRecord& b, std::int32_t ordering) {
  if (ordering == ordering::kByIdentifier) return compare_bytes(a.identifier, b.identifier) < 0;
  if (a.sequence.size() != b.sequence.size()) {
    return ordering == ordering::kLongestFirst ? a.sequence.size() > b.sequence.size()
                                               : a.sequence.size() < b.sequence.size();
  }
  const int by_sequence = compare_bytes(a.sequence, b.sequence);
  if (by_sequence != 0) return by_sequence < 0;
  return compare_bytes(a.identifier, b.identifier) < 0;
}

std::vector<std::int32_t> written_order(const ProteinSet& proteins, std::int32_t ordering) {
  const std::vector<ProteinRecord>& records = proteins.records;
  // Sort small keys rather than records: the exchanges are the same, and each one moves 16
  // bytes instead of a whole record.
  const bool by_identifier = ordering == ordering::kByIdentifier;
  std::vector<SortKey> keys(records.size());
  for (std::size_t i = 0; i < keys.size(); ++i) {
    const ProteinRecord& record = records[i];
    SortKey& key = keys[i];
    key.position = static_cast<std::int32_t>(i);
    if (by_identifier) {
      key.leading = leading_bytes(record.identifier);
    } else {
      key.leading = leading_bytes(record.sequence);
      key.length = record.sequence.size() < kLengthUnknown
                       ? static_cast<std::uint32_t>(record.sequence.size())
                       : kLengthUnknown;
    }
  }
  if (by_identifier) {
    introspective_sort::sort(keys.begin(), keys.end(), ByIdentifier{&records});
  } else {
    introspective_sort::sort(keys.begin(), keys.end(), ByLength{&records, ordering});
  }
  std::vector<std::int32_t> order(keys.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = keys[i].position;
  return order;
}

}  // namespace tarnel
