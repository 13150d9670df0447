#include "test_support.h"

#include <gtest/gtest.h>

#include <sstream>

#include "base/console.h"
#include "run/driver.h"
#include "species/fasta_reader.h"

namespace tarnel::testing {

int run_tool(const std::vector<std::string>& arguments, std::string& out, Clock& clock,
             FileSystem& files, std::string* err) {
  std::ostringstream console;
  std::ostringstream errors;
  const int code = run(arguments, console, errors, clock, files);
  out = console.str();
  if (err != nullptr) *err = errors.str();
  return code;
}

std::string read_fasta_bytes(const std::string& bytes, std::size_t block_bytes, bool read_error) {
  MemoryFileSystem files;
  files.files["in/x.fa"] = bytes;
  files.block_bytes = block_bytes;
  if (read_error) files.read_error.insert("in/x.fa");
  std::ostringstream message;
  Console console(message);
  ProteinSet proteins;
  const bool ok = read_fasta(files, console, "in/", "x.fa", proteins);
  console.flush();
  EXPECT_EQ(ok, message.str().empty()) << message.str();
  if (!ok) return message.str();
  std::string records;
  for (std::size_t i = 0; i < proteins.size(); ++i) {
    const ProteinRecord& r = proteins[i];
    // Fresh from the reader: numbered in reading order, with no copies marked.
    EXPECT_EQ(r.ordinal, static_cast<std::int32_t>(i));
    EXPECT_TRUE(!r.is_copy && r.copies.empty());
    records.append(r.identifier).append("|").append(r.sequence);
    records += "|" + std::to_string(r.offset) + "|" + std::to_string(r.line) + "\n";
  }
  return records;
}

}  // namespace tarnel::testing
