// Protein collections are kept gzip-compressed; this lets a FASTA file be read whether it is
// compressed or not, with no temporary file and no extra pass.
#ifndef TARNEL_SPECIES_COMPRESSED_SOURCE_H_
#define TARNEL_SPECIES_COMPRESSED_SOURCE_H_

#include <memory>

#include "base/file_system.h"

namespace tarnel {

/// Returns a source of the file's contents: decompressed when the file begins with the gzip
/// magic bytes 1f 8b, whatever its name, and otherwise the bytes exactly as stored. The choice
/// is made by reading the first two bytes, which are delivered all the same; nothing seeks, so
/// a pipe serves as well as a file.
///
/// Concatenated gzip members (as `cat a.gz b.gz` or block-compressing tools write them) are
/// read as one stream. A damaged or cut-off stream, or bytes after a member that do not start
/// another one, end in a read error (-1) once every byte decompressed before the damage has
/// been delivered.
///
/// REQUIRES: `file` is not null.
std::unique_ptr<ByteSource> decompress_if_gzip(std::unique_ptr<ByteSource> file);

}  // namespace tarnel

#endif  // TARNEL_SPECIES_COMPRESSED_SOURCE_H_
