// Reads one species' protein FASTA file into a ProteinSet, strictly: every line is a header, a
// non-empty sequence line, or the end of the file.
#ifndef TARNEL_SPECIES_FASTA_READER_H_
#define TARNEL_SPECIES_FASTA_READER_H_

#include <cstdint>
#include <string>

#include "base/console.h"
#include "base/file_system.h"
#include "species/protein.h"

namespace tarnel {

/// What reading a file took from the system, for the run report.
struct InputUse {
  std::uint64_t bytes_read = 0;  // as stored: a compressed file's compressed bytes
  int error = 0;                 // the system's error code behind a failure; 0 when none
};

/// Reads `input_path` + `file_name`, decompressing it as it goes when it is gzip-compressed. On
/// failure prints the one message that ends the species' console line and returns false; the
/// records read so far are then of no use.
bool read_fasta(FileSystem& files, Console& console, const std::string& input_path,
                const std::string& file_name, ProteinSet& proteins, InputUse* use = nullptr);

/// The same over an open source, for callers that already hold one.
bool read_fasta(ByteSource& source, Console& console, ProteinSet& proteins);

}  // namespace tarnel

#endif  // TARNEL_SPECIES_FASTA_READER_H_
