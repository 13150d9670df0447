#include "species/protein_ordering.h"

#include <cstring>
#include <vector>

#include "run/run_settings.h"
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

// Moves every record to its new position: the record now at position i is the one that was at
// order[i]. Follows the permutation's cycles, so each record moves once and none is copied.
void apply_order(std::vector<ProteinRecord>& records, std::vector<std::int32_t>& order) {
  for (std::size_t start = 0; start < order.size(); ++start) {
    if (order[start] < 0 || static_cast<std::size_t>(order[start]) == start) continue;
    ProteinRecord held = std::move(records[start]);
    std::size_t hole = start;
    for (;;) {
      const auto from = static_cast<std::size_t>(order[hole]);
      order[hole] = -1;
      if (from == start) break;
      records[hole] = std::move(records[from]);
      hole = from;
    }
    records[hole] = std::move(held);
  }
}

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

void order_proteins(ProteinSet& proteins, std::int32_t ordering, std::int32_t copy_mode) {
  std::vector<ProteinRecord>& records = proteins.records;
  // Sort positions rather than records: the exchanges are the same, and each one moves four
  // bytes instead of a whole record.
  std::vector<std::int32_t> order(records.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = static_cast<std::int32_t>(i);
  introspective_sort::sort(
      order.begin(), order.end(), [&records, ordering](std::int32_t a, std::int32_t b) {
        return compare_proteins(records[static_cast<std::size_t>(a)],
                                records[static_cast<std::size_t>(b)], ordering);
      });
  apply_order(records, order);

  // Before sorting, a record's position was its ordinal; the table maps it to the new one.
  std::vector<std::int32_t> position_table(records.size(), 0);
  for (std::size_t i = 0; i < records.size(); ++i) {
    position_table[static_cast<std::size_t>(records[i].ordinal)] = static_cast<std::int32_t>(i);
  }
  if (copy_mode != 1) return;
  for (ProteinRecord& record : records) {
    for (std::int32_t& copy : record.copies) copy = position_table[static_cast<std::size_t>(copy)];
  }
}

}  // namespace tarnel
