// How many bytes a FASTA file's contents take once decompressed, told before the file is read,
// so that the species in flight at once can be kept within the memory.
#ifndef TARNEL_BASE_CONTENT_SIZE_H_
#define TARNEL_BASE_CONTENT_SIZE_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tarnel {

/// A gzip file read whole may hold this many times its stored size, where its trailer cannot
/// tell: protein FASTA files shrink to between a third and a half.
inline constexpr std::uint64_t kCompressionEstimate = 4;

/// The contents' size from the file's stored size, its first 14 bytes (or fewer) and its last
/// 4: a plain file holds its stored size. A gzip file of one member ends with the size of its
/// contents modulo 2^32, which is taken where it is at least the stored size; a file of blocks
/// (its header names the BC field) or whose trailer tells less is estimated instead.
std::uint64_t estimate_content_bytes(std::uint64_t stored_bytes, std::string_view head,
                                     std::string_view tail);

/// The same for the host's file at `path`, from its size and at most 18 of its bytes: 0 when
/// there is no such file; nothing for a pipe or device, which cannot tell without being read.
std::optional<std::uint64_t> host_content_bytes(const std::string& path);

}  // namespace tarnel

#endif  // TARNEL_BASE_CONTENT_SIZE_H_
