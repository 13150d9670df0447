// Writes a reproducible collection of protein FASTA files and the two species lists that name
// them, for benchmarks. The same seed gives the same bytes on every platform: the generator
// and every distribution are written out here instead of taken from <random>, whose
// distributions differ between standard libraries.
//
//   generate_collection DIR [--species N] [--proteins P] [--bytes B] [--seed S]
//                           [--crlf-every K] [--large-every K --large-bytes B] [--lists-only]
//
// DIR receives protein/<name>.fa, all_species.txt, active_species.txt (every fifth species)
// and the empty output directories status/, dup/ and fasta/. --bytes makes every species file
// grow to about B bytes instead of holding P proteins; --large-every K with --large-bytes B
// does so for one species in K (the middle one of each K), the others left as they are.
// --lists-only writes the lists alone.
#include <sys/stat.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

class SplitMix {
 public:
  explicit SplitMix(std::uint64_t seed) : state_(seed) {}
  std::uint64_t next() {
    std::uint64_t z = (state_ += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
  }
  // Uniform in [0, 1).
  double unit() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }
  std::uint64_t below(std::uint64_t bound) { return next() % bound; }
  // Standard normal by Box-Muller; one value per call keeps the stream simple.
  double normal() {
    const double u1 = 1.0 - unit();
    const double u2 = unit();
    return std::sqrt(-2.0 * std::log(u1)) * std::cos(6.283185307179586 * u2);
  }

 private:
  std::uint64_t state_;
};

// Residues weighted roughly as in real proteomes: 32 slots over 20 amino acids.
constexpr char kResidueSlots[33] = "LLAAGGVVSSEEKKIITTDDRRPPNQFYMHCW";

struct Options {
  std::string directory;
  int species = 100;
  long proteins = 3000;
  std::uint64_t bytes = 0;
  std::uint64_t seed = 1;
  int crlf_every = 25;
  int large_every = 0;
  std::uint64_t large_bytes = 0;
  bool lists_only = false;
};

// Log-normal around a median of 300 residues with a long tail, cut at the longest known
// proteins.
std::size_t draw_length(SplitMix& random) {
  const double length = 300.0 * std::exp(0.85 * random.normal());
  if (length < 30.0) return 30;
  if (length > 35000.0) return 35000;
  return static_cast<std::size_t>(length);
}

void draw_sequence(SplitMix& random, std::size_t length, std::string& out) {
  out.resize(length);
  std::size_t i = 0;
  while (i < length) {
    std::uint64_t bits = random.next();
    for (int k = 0; k < 12 && i < length; ++k, bits >>= 5) out[i++] = kResidueSlots[bits & 31];
  }
}

class Writer {
 public:
  explicit Writer(const std::string& path) : file_(std::fopen(path.c_str(), "wb")) {
    if (file_ == nullptr) {
      std::perror(path.c_str());
      std::exit(1);
    }
    buffer_.reserve(1 << 20);
  }
  ~Writer() {
    flush();
    if (std::fclose(file_) != 0) {
      std::perror("close");
      std::exit(1);
    }
  }
  std::string& out() { return buffer_; }
  void maybe_flush() {
    if (buffer_.size() >= (1 << 20)) flush();
  }
  std::uint64_t written() const { return written_ + buffer_.size(); }

 private:
  void flush() {
    if (!buffer_.empty() &&
        std::fwrite(buffer_.data(), 1, buffer_.size(), file_) != buffer_.size()) {
      std::perror("write");
      std::exit(1);
    }
    written_ += buffer_.size();
    buffer_.clear();
  }
  std::FILE* file_;
  std::string buffer_;
  std::uint64_t written_ = 0;
};

std::string species_name(int index) {
  char name[32];
  std::snprintf(name, sizeof name, "Species_%05d", index);
  return name;
}

void write_species(const Options& options, int index, SplitMix& random) {
  const std::string name = species_name(index);
  Writer writer(options.directory + "/protein/" + name + ".fa");
  const bool large =
      options.large_every > 0 && index % options.large_every == options.large_every / 2;
  const std::uint64_t bytes = large ? options.large_bytes : options.bytes;
  const std::string_view line_end =
      options.crlf_every > 0 && index % options.crlf_every == options.crlf_every - 1 ? "\r\n"
                                                                                     : "\n";
  // Copies are taken from recent proteins, which bounds the generator's memory on huge files.
  std::vector<std::string> recent(4096);
  std::string sequence;
  for (long p = 0;; ++p) {
    if (bytes > 0 ? writer.written() >= bytes : p >= options.proteins) break;
    const std::size_t kept = static_cast<std::size_t>(p < 4096 ? p : 4096);
    if (kept > 0 && random.unit() < 0.02) {
      sequence = recent[random.below(kept)];
    } else {
      draw_sequence(random, draw_length(random), sequence);
    }
    recent[static_cast<std::size_t>(p) % recent.size()] = sequence;
    char header[160];
    const int header_size = std::snprintf(
        header, sizeof header, ">S%05d_P%08ld hypothetical protein %lu OS=%s GN=g%ld PE=%d SV=1",
        index, p, static_cast<unsigned long>(random.below(100000)), name.c_str(), p,
        static_cast<int>(random.below(5) + 1));
    std::string& out = writer.out();
    out.append(header, static_cast<std::size_t>(header_size));
    out.append(line_end);
    for (std::size_t at = 0; at < sequence.size(); at += 60) {
      out.append(sequence, at, 60);
      out.append(line_end);
      writer.maybe_flush();
    }
    writer.maybe_flush();
  }
}

void make_directory(const std::string& path) {
  if (mkdir(path.c_str(), 0777) != 0 && errno != EEXIST) {
    std::perror(path.c_str());
    std::exit(1);
  }
}

bool parse(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    const auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
    const char* v = nullptr;
    if (arg == "--lists-only") {
      options.lists_only = true;
      continue;
    }
    if (arg.substr(0, 2) == "--") {
      v = value();
      if (v == nullptr) return false;
    }
    if (arg == "--species") {
      options.species = std::atoi(v);
    } else if (arg == "--proteins") {
      options.proteins = std::atol(v);
    } else if (arg == "--bytes") {
      options.bytes = std::strtoull(v, nullptr, 10);
    } else if (arg == "--seed") {
      options.seed = std::strtoull(v, nullptr, 10);
    } else if (arg == "--crlf-every") {
      options.crlf_every = std::atoi(v);
    } else if (arg == "--large-every") {
      options.large_every = std::atoi(v);
    } else if (arg == "--large-bytes") {
      options.large_bytes = std::strtoull(v, nullptr, 10);
    } else if (options.directory.empty() && arg.substr(0, 2) != "--") {
      options.directory = arg;
    } else {
      return false;
    }
  }
  return !options.directory.empty() && options.species > 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!parse(argc, argv, options)) {
    std::fprintf(stderr,
                 "usage: %s DIR [--species N] [--proteins P] [--bytes B] [--seed S] "
                 "[--crlf-every K] [--large-every K --large-bytes B] [--lists-only]\n",
                 argv[0]);
    return 2;
  }
  make_directory(options.directory);
  for (const char* sub : {"/protein", "/status", "/dup", "/fasta"}) {
    make_directory(options.directory + sub);
  }
  {
    Writer all(options.directory + "/all_species.txt");
    Writer active(options.directory + "/active_species.txt");
    all.out() = "species_name\tFASTA_file_name\n";
    active.out() = all.out();
    for (int i = 0; i < options.species; ++i) {
      const std::string entry = species_name(i) + "\t" + species_name(i) + ".fa\n";
      all.out().append(entry);
      if (i % 5 == 0) active.out().append(entry);
      all.maybe_flush();
      active.maybe_flush();
    }
  }
  if (options.lists_only) return 0;
  for (int i = 0; i < options.species; ++i) {
    // One stream per species, so a species' file does not depend on how many precede it.
    SplitMix random(options.seed * 0x100000001b3ULL + static_cast<std::uint64_t>(i));
    write_species(options, i, random);
  }
  return 0;
}
