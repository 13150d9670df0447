// Argument vectors from arbitrary bytes (separated by NUL or LF, the first one the program path),
// run whole against a small collection in memory. Whatever the arguments, the run prints whole
// lines, nothing on standard error, and one of its exit codes; a command line it refuses ends
// in exactly one known message.
#include "fuzz/fuzz_support.h"
#include "run/driver.h"

namespace tarnel::fuzz {

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Arguments arguments{""};
  for (const char c : std::string_view(reinterpret_cast<const char*>(data), size))
    c == '\0' || c == '\n' ? void(arguments.emplace_back()) : arguments.back().push_back(c);
  testing::MemoryFileSystem files;
  files.files["act"] = files.files["all"] = "species_name\tFASTA_file_name\nsp\tx.fa\n";
  files.files["protein/x.fa"] = ">P1 one\nMKV\n>P2\nMKV\n>P3\nMK\n";
  std::ostringstream out, errors;
  ZeroClock clock;
  const int code = run(arguments, out, errors, clock, files);
  const std::string text = out.str();
  TARNEL_FUZZ_CHECK(errors.str().empty() && text.ends_with('\n') && code >= 0 && code <= 6);
  if (code != 1) return 0;
  const std::string line = text.substr(text.rfind('\n', text.size() - 2) + 1);
  TARNEL_FUZZ_CHECK(line == "Two lists of species must be specified\n" ||
                    line.starts_with("Missing ") || line.starts_with("Bad number of jobs ") ||
                    (line.starts_with("Unknown option ") && line.size() == 17));
  return 0;
}

}  // namespace tarnel::fuzz
