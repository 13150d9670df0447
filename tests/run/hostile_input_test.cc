// Whole runs on the real file system with input that no well-behaved user would give: binary
// garbage, directories where files belong, lines of megabytes, odd line ends, NUL bytes, paths
// that cannot exist, an output file that is also the input, and pipes instead of files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#ifndef _WIN32
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "run/host_file_system.h"
#include "species/fasta_reader.h"
#include "test_support.h"

namespace tarnel {
namespace {

namespace fs = std::filesystem;

// Counts the bytes each path delivers, to show how far a file was read.
class CountingFileSystem final : public FileSystem {
 public:
  explicit CountingFileSystem(FileSystem& inner) : inner_(inner) {}
  std::map<std::string, std::uint64_t> bytes_read;

  std::unique_ptr<ByteSource> open_for_reading(const std::string& path) override {
    std::unique_ptr<ByteSource> source = inner_.open_for_reading(path);
    if (source == nullptr) return nullptr;
    return std::make_unique<CountingSource>(std::move(source), bytes_read[path]);
  }
  std::unique_ptr<StagedFile> stage(const std::string& path) override { return inner_.stage(path); }

 private:
  class CountingSource final : public ByteSource {
   public:
    CountingSource(std::unique_ptr<ByteSource> inner, std::uint64_t& count)
        : inner_(std::move(inner)), count_(count) {}
    std::ptrdiff_t read(char* buffer, std::size_t capacity) override {
      const std::ptrdiff_t got = inner_->read(buffer, capacity);
      if (got > 0) count_ += static_cast<std::uint64_t>(got);
      return got;
    }

   private:
    std::unique_ptr<ByteSource> inner_;
    std::uint64_t& count_;
  };
  FileSystem& inner_;
};

// Reproducible noise: the same bytes on every run and platform.
std::string noise(std::size_t size, std::uint64_t seed) {
  std::string bytes(size, '\0');
  for (char& c : bytes) {
    seed ^= seed << 13;
    seed ^= seed >> 7;
    seed ^= seed << 17;
    c = static_cast<char>(seed >> 56);
  }
  return bytes;
}

// Every byte value, `rounds` times, rising or falling: NUL, CR, TAB, '>' and high bytes all land
// inside lines.
std::string all_byte_values(int rounds, bool rising) {
  std::string bytes;
  for (int r = 0; r < rounds; ++r) {
    for (int b = 0; b < 256; ++b) bytes.push_back(static_cast<char>(rising ? b : 255 - b));
  }
  return bytes;
}

std::string wrapped(std::string_view sequence) {
  std::string out;
  for (std::size_t at = 0; at < sequence.size(); at += 80) {
    out.append(sequence.substr(at, 80)).push_back('\n');
  }
  return out;
}

std::string padded_heading(const std::string& name) {
  std::string heading = name + "...";
  if (heading.size() < 36) heading.resize(36, ' ');
  return heading;
}

std::string statistics(int p, int dup, int max, int grp) {
  const auto left = [](int value, std::size_t width) {
    std::string text = std::to_string(value);
    if (text.size() < width) text.resize(width, ' ');
    return text;
  };
  return " p=" + left(p, 6) + " dup=" + left(dup, 5) + " max=" + left(max, 2) +
         " grp=" + left(grp, 5);
}

std::string written(int count, int total) {
  const auto right = [](int value) {
    const std::string text = std::to_string(value);
    return std::string(text.size() < 6 ? 6 - text.size() : 0, ' ') + text;
  };
  return right(count) + " of " + right(total) + " proteins written in ";
}

std::string summary(int lines, int ok, int errors) {
  return "\nLines:" + std::to_string(lines) + "  Species_OK:" + std::to_string(ok) +
         "  Errors:" + std::to_string(errors) + "  Time:0m\n";
}

constexpr char kHeader[] = "species_name\tFASTA_file_name\n";

class HostileInputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device random;
    do {
      root_ = fs::temp_directory_path() / ("tarnel-hostile-" + std::to_string(random()));
    } while (!fs::create_directory(root_));
    for (const char* directory : {"protein", "status", "dup", "fasta"}) {
      fs::create_directory(root_ / directory);
    }
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }

  // Joined with '/', which every host accepts, so that messages read the same everywhere.
  std::string root() const { return root_.generic_string(); }
  std::string path(const std::string& relative) const { return root() + "/" + relative; }

  void write(const std::string& relative, const std::string& bytes) const {
    std::ofstream out(path(relative), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good()) << relative;
  }

  std::string read(const std::string& relative) const {
    std::ifstream in(path(relative), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

  // Runs the tool on the lists at `active` and `all` with every directory inside the temp
  // directory; returns what it printed after the banner.
  int run_with(const std::vector<std::string>& options, const std::string& active,
               const std::string& all, std::string& console, FileSystem& files) const {
    // Directories end with their separator, so normalisation leaves them as given.
    std::vector<std::string> arguments = {"tarnel",        "-i", path("protein/"), "-s",
                                          path("status/"), "-d", path("dup/"),     "-o",
                                          path("fasta/")};
    arguments.insert(arguments.end(), options.begin(), options.end());
    arguments.push_back(path(active));
    arguments.push_back(path(all));
    testing::FakeClock clock;
    std::string out;
    const int code = testing::run_tool(arguments, out, clock, files);
    const std::size_t banner_end = out.find("\n\n", 1);
    console = banner_end == std::string::npos ? out : out.substr(banner_end + 2);
    return code;
  }

  // Temporaries of the staged output files that survived the run.
  std::vector<std::string> leftover_temporaries() const {
    std::vector<std::string> found;
    for (const auto& entry : fs::recursive_directory_iterator(root_)) {
      if (entry.path().filename().string().rfind(".tn", 0) == 0) {
        found.push_back(entry.path().string());
      }
    }
    return found;
  }

  fs::path root_;
};

struct HostileCase {
  const char* name;
  std::vector<std::pair<std::string, std::string>> files;  // relative path and bytes
  std::vector<std::string> directories;                    // made before the run
  std::vector<std::string> options;
  int exit_code;
  std::string console;  // after the banner; "{T}" stands for the temp directory
  std::vector<std::pair<std::string, std::string>> expected_files{};  // after the run
  std::vector<std::string> absent_files{};
  std::pair<std::string, std::uint64_t> read_limit{};  // a path read no further than this
};

std::vector<HostileCase> hostile_cases() {
  using namespace std::string_literals;
  const std::string activation = "Number of species to activate: 0 of 1\n";
  // The falling byte values give lines that begin with a TAB: an empty species name and a
  // file name of control characters, which cannot be opened.
  const std::string unopenable =
      padded_heading("") + "can't open input file {T}/protein/\x08\x07\x06\x05\x04\x03\x02\x01\n";
  const std::string too_long_name(300, 'n');
  const std::string one_species = std::string(kHeader) + "x\tx.fa\n";
  const std::string one_protein = ">P1 first\nMKV\n";
  const std::string many_megabytes(8u << 20, 'M');
  // One protein whose sequence lines are binary; each line's text is cut at its NUL and each
  // sequence line again at its first CR.
  std::string garbage_sequence;
  for (int b = 255; b > 13; --b) garbage_sequence.push_back(static_cast<char>(b));
  for (int round = 0; round < 2; ++round) {
    for (int b = 9; b > 0; --b) garbage_sequence.push_back(static_cast<char>(b));
  }
  // An input FASTA file of several read blocks, in lines of 60 residues.
  std::string big_input;
  std::string big_output;
  for (int k = 0; k < 4000; ++k) {
    const std::string sequence =
        std::string(1000 + k % 50, "ACDEFGHIKL"[k % 10]) + std::to_string(k);
    big_input += ">Q" + std::to_string(k) + " protein " + std::to_string(k) + "\n";
    for (std::size_t at = 0; at < sequence.size(); at += 60) {
      big_input += sequence.substr(at, 60) + "\n";
    }
    big_output += ">Q" + std::to_string(k) + "\n" + wrapped(sequence);
  }
  std::string no_line_feed = noise(3u << 20, 99);
  for (char& c : no_line_feed) {
    if (c == '\n' || c == '\0') c = 'x';
  }

  return {
      {"binary garbage as the full list",
       {{"all.txt", all_byte_values(4, true)}, {"active.txt", kHeader}},
       {},
       {},
       3,
       "no 2nd field in line 2\n"},
      {"binary garbage as the full list whose lines happen to hold a TAB",
       {{"all.txt", all_byte_values(4, false)}, {"active.txt", kHeader}},
       {},
       {},
       0,
       "Number of species to activate: 0 of 4\n" + unopenable + unopenable + unopenable +
           unopenable + summary(2, 0, 4)},
      {"binary garbage without any line feed as the active list",
       {{"all.txt", one_species}, {"active.txt", no_line_feed}},
       {},
       {},
       2,
       "Failed at line 1\n",
       {},
       {},
       {"active.txt", 2u << 20}},
      {"binary garbage as a FASTA file",
       {{"all.txt", one_species},
        {"active.txt", kHeader},
        {"protein/x.fa", ">bin|x\n" + all_byte_values(2, false).substr(0, 511)}},
       {},
       {"-w", "1"},
       0,
       activation + padded_heading("x") + statistics(1, 0, 0, 0) + written(1, 1) + "  0s\n" +
           summary(2, 1, 0),
       {{"fasta/x.fas", ">bin\n" + wrapped(garbage_sequence)},
        {"status/x", "      1      0   260  \n"}}},
      {"binary garbage without any line feed as a FASTA file",
       {{"all.txt", one_species}, {"active.txt", kHeader}, {"protein/x.fa", no_line_feed}},
       {},
       {},
       0,
       activation + padded_heading("x") + "failed at line 1\n" + summary(2, 0, 1),
       {},
       {"status/x", "dup/x.tsv"},
       {"protein/x.fa", 2u << 20}},
      {"a directory as the full list",
       {{"active.txt", kHeader}},
       {"all.txt"},
       {},
       2,
       "Bad or missing list of all species {T}/all.txt\n"},
      {"a directory as the active list",
       {{"all.txt", one_species}},
       {"active.txt"},
       {},
       2,
       "Bad or missing list of active species, {T}/active.txt\n"},
      {"a directory as a FASTA file",
       {{"all.txt", std::string(kHeader) + "x\tsub\n"}, {"active.txt", kHeader}},
       {"protein/sub"},
       {},
       0,
       activation + padded_heading("x") + "can't open input file {T}/protein/sub\n" +
           summary(2, 0, 1),
       {},
       {"status/x", "dup/x.tsv"}},
      {"a FASTA line of megabytes",
       {{"all.txt", one_species},
        {"active.txt", kHeader},
        {"protein/x.fa", ">P1\n" + many_megabytes + "\n>P2\nMK\n"},
        {"status/x", "earlier run\n"}},
       {},
       {},
       0,
       activation + padded_heading("x") + "failed at line 2\n" + summary(2, 0, 1),
       {{"status/x", "earlier run\n"}},
       {"dup/x.tsv"},
       {"protein/x.fa", 2u << 20}},
      {"a list line of megabytes",
       {{"all.txt", std::string(kHeader) + "x\t" + many_megabytes + "\n"}, {"active.txt", kHeader}},
       {},
       {},
       2,
       "Failed at line 2\n",
       {},
       {},
       {"all.txt", 2u << 20}},
      {"a FASTA file with CR-only line ends is one header line",
       {{"all.txt", one_species},
        {"active.txt", kHeader},
        {"protein/x.fa", ">P1 first\rMKV\r>P2\rMKV\r"}},
       {},
       {"-w", "1"},
       0,
       activation + padded_heading("x") + statistics(0, 0, 0, 0) + written(0, 0) + "  0s\n" +
           summary(2, 1, 0),
       {{"fasta/x.fas", ""}, {"status/x", ""}, {"dup/x.tsv", ""}}},
      {"lists with CR-only line ends are one header line",
       {{"all.txt", "species_name\tFASTA_file_name\rx\tx.fa\r"},
        {"active.txt", "species_name\rx\tx.fa\r"}},
       {},
       {},
       0,
       "Number of species to activate: 0 of 0\n" + summary(1, 0, 0)},
      {"NUL bytes in headers and sequences end their line's text",
       {{"all.txt", one_species},
        {"active.txt", one_species},
        {"protein/x.fa", ">P1\0hidden desc\nMK\0V\n>P2 x\nMK\n"s}},
       {},
       {"-w", "1"},
       0,
       "Number of species to activate: 1 of 1\n" + padded_heading("x") + statistics(2, 1, 1, 1) +
           written(1, 2) + "  0s\n" + summary(3, 1, 0),
       {{"fasta/x.fas", ">P1\nMK\n"},
        {"status/x", "      1      0     2 .\n"},
        {"dup/x.tsv", "P1\t1\tP2\n"}}},
      {"a NUL byte before the TAB of a list line",
       {{"all.txt", "h\nx\0junk\tx.fa\n"s}, {"active.txt", kHeader}},
       {},
       {},
       3,
       "no 2nd field in line 2\n"},
      {"a NUL byte inside a list's file name",
       {{"all.txt", "h\nx\tx.fa\0junk\tmore\n"s},
        {"active.txt", kHeader},
        {"protein/x.fa", one_protein}},
       {},
       {},
       0,
       "Number of species to activate: 0 of 1\n" + padded_heading("x") + statistics(1, 0, 0, 0) +
           "  0s\n" + summary(2, 1, 0),
       {{"status/x", "      1      0     3  \n"}}},
      {"a species name whose directory does not exist",
       {{"all.txt", std::string(kHeader) + "missing/x\tx.fa\ny\tx.fa\n"},
        {"active.txt", kHeader},
        {"protein/x.fa", one_protein}},
       {},
       {},
       0,
       "Number of species to activate: 0 of 2\n" + padded_heading("missing/x") +
           statistics(1, 0, 0, 0) + "can't create duplicate file {T}/dup/missing/x.tsv\n" +
           padded_heading("y") + statistics(1, 0, 0, 0) + "  0s\n" + summary(2, 1, 1),
       {{"status/y", "      1      0     3   \n"}},
       {"status/missing", "dup/missing"}},
      {"a species name longer than a file name may be",
       {{"all.txt", std::string(kHeader) + too_long_name + "\tx.fa\n"},
        {"active.txt", kHeader},
        {"protein/x.fa", one_protein}},
       {},
       {},
       0,
       activation + too_long_name + "..." + statistics(1, 0, 0, 0) +
           "can't create duplicate file {T}/dup/" + too_long_name + ".tsv\n" + summary(2, 0, 1)},
      {"a directory where an output file belongs",
       {{"all.txt", one_species},
        {"active.txt", kHeader},
        {"protein/x.fa", one_protein},
        {"dup/x.tsv", "earlier run\n"}},
       {"status/x"},
       {},
       0,
       activation + padded_heading("x") + statistics(1, 0, 0, 0) +
           "can't create status file {T}/status/x\n" + summary(2, 0, 1),
       {{"dup/x.tsv", "earlier run\n"}}},
      {"the output FASTA file is the input file",
       {{"all.txt", std::string(kHeader) + "big\tbig.fa\n"},
        {"active.txt", kHeader},
        {"protein/big.fa", big_input}},
       {},
       {"-w", "1", "-c", "0", "-r", "0", "-u", "0", "-o", "{T}/protein/", "-p", "fa"},
       0,
       "Number of species to activate: 0 of 1\n" + padded_heading("big") + written(4000, 4000) +
           "  0s\n" + summary(2, 1, 0),
       {{"protein/big.fa", big_output}}},
  };
}

std::string with_root(std::string text, const std::string& root) {
  for (std::size_t at = text.find("{T}"); at != std::string::npos; at = text.find("{T}", at)) {
    text.replace(at, 3, root);
    at += root.size();
  }
  return text;
}

TEST_F(HostileInputTest, AnswersEveryHostileInputWithItsMessage) {
  for (const HostileCase& c : hostile_cases()) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    for (const std::string& directory : c.directories) fs::create_directories(root_ / directory);
    for (const auto& [relative, bytes] : c.files) write(relative, bytes);
    std::vector<std::string> options;
    for (const std::string& option : c.options) options.push_back(with_root(option, root()));

    HostFileSystem host;
    CountingFileSystem files(host);
    std::string console;
    EXPECT_EQ(run_with(options, "active.txt", "all.txt", console, files), c.exit_code);
    EXPECT_EQ(console, with_root(c.console, root()));
    for (const auto& [relative, bytes] : c.expected_files) {
      EXPECT_TRUE(fs::is_regular_file(path(relative))) << relative;
      EXPECT_TRUE(read(relative) == bytes) << relative << " differs";
    }
    for (const std::string& relative : c.absent_files) {
      EXPECT_FALSE(fs::exists(path(relative))) << relative;
    }
    if (!c.read_limit.first.empty()) {
      // A line over the limit is given up on at once: the reader never pulls much more than
      // one block of it, however long it is, so it never holds it.
      EXPECT_LE(files.bytes_read[path(c.read_limit.first)], c.read_limit.second);
    }
    EXPECT_EQ(leftover_temporaries(), std::vector<std::string>{});
  }
}

#ifndef _WIN32
// Feeds a FIFO from a thread. The reader may open it late or never; the writer waits for it a
// bounded time instead of blocking forever, and a reader that stops early costs a failed write
// rather than SIGPIPE.
class FifoFeeder {
 public:
  FifoFeeder(std::string path, std::string bytes)
      : thread_([path = std::move(path), bytes = std::move(bytes)] {
          sigset_t pipe_signal;
          sigemptyset(&pipe_signal);
          sigaddset(&pipe_signal, SIGPIPE);
          pthread_sigmask(SIG_BLOCK, &pipe_signal, nullptr);
          const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
          int fd = -1;
          while ((fd = open(path.c_str(), O_WRONLY | O_NONBLOCK)) < 0) {
            if (errno != ENXIO || std::chrono::steady_clock::now() > deadline) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
          }
          fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
          // Small writes, so the reader sees the stream in pieces.
          for (std::size_t at = 0; at < bytes.size();) {
            const std::size_t piece = std::min<std::size_t>(bytes.size() - at, 10007);
            const ssize_t put = ::write(fd, bytes.data() + at, piece);
            if (put <= 0) break;
            at += static_cast<std::size_t>(put);
          }
          close(fd);
        }) {}
  ~FifoFeeder() { thread_.join(); }
  FifoFeeder(const FifoFeeder&) = delete;
  FifoFeeder& operator=(const FifoFeeder&) = delete;

 private:
  std::thread thread_;
};

std::string crlf_collection_fasta() {
  std::string fasta;
  for (int k = 0; k < 5000; ++k) {
    fasta += ">R" + std::to_string(k % 2000) + " from a pipe\r\n";
    const std::string sequence(600 + k % 70, "MKVLAGHST"[k % 9]);
    for (std::size_t at = 0; at < sequence.size(); at += 61) {
      fasta += sequence.substr(at, 61) + "\r\n";
    }
  }
  return fasta;
}

TEST_F(HostileInputTest, ReadsListsAndFastaFilesFromPipes) {
  const std::string all = std::string(kHeader) + "a\ta.fa\nb\tb.fa\n";
  const std::string active = std::string(kHeader) + "b\tb.fa\n";
  const std::string fasta = crlf_collection_fasta();
  ASSERT_GT(fasta.size(), 3u << 20);  // several read blocks, many pipe buffers

  // First from regular files.
  write("all.txt", all);
  write("active.txt", active);
  write("protein/a.fa", fasta);
  write("protein/b.fa", ">only\nMK\n");
  HostFileSystem host;
  std::string from_files;
  ASSERT_EQ(run_with({"-w", "1"}, "active.txt", "all.txt", from_files, host), 0);
  const std::string fasta_out = read("fasta/a.fas");
  const std::string status_out = read("status/a");
  const std::string duplicates_out = read("dup/a.tsv");
  ASSERT_FALSE(duplicates_out.empty());

  // Then the same bytes through pipes: both lists and a FASTA file.
  for (const char* relative : {"all.txt", "active.txt", "protein/a.fa", "fasta/a.fas"}) {
    fs::remove(path(relative));
  }
  for (const char* relative : {"all.txt", "active.txt", "protein/a.fa"}) {
    ASSERT_EQ(mkfifo(path(relative).c_str(), 0600), 0) << relative;
  }
  std::string from_pipes;
  {
    FifoFeeder all_feeder(path("all.txt"), all);
    FifoFeeder active_feeder(path("active.txt"), active);
    FifoFeeder fasta_feeder(path("protein/a.fa"), fasta);
    EXPECT_EQ(run_with({"-w", "1"}, "active.txt", "all.txt", from_pipes, host), 0);
  }
  EXPECT_EQ(from_pipes, from_files);
  EXPECT_TRUE(read("fasta/a.fas") == fasta_out);
  EXPECT_TRUE(read("status/a") == status_out);
  EXPECT_TRUE(read("dup/a.tsv") == duplicates_out);
}

TEST_F(HostileInputTest, CountsOffsetsInAPipeFromTheBytesRead) {
  const std::string fasta = crlf_collection_fasta();
  write("regular.fa", fasta);
  ASSERT_EQ(mkfifo(path("pipe.fa").c_str(), 0600), 0);

  HostFileSystem host;
  std::ostringstream ignored;
  Console console(ignored);
  ProteinSet from_file;
  std::unique_ptr<ByteSource> file_source = host.open_for_reading(path("regular.fa"));
  ASSERT_NE(file_source, nullptr);
  ASSERT_TRUE(read_fasta(*file_source, console, from_file));

  ProteinSet from_pipe;
  {
    FifoFeeder feeder(path("pipe.fa"), fasta);
    std::unique_ptr<ByteSource> pipe_source = host.open_for_reading(path("pipe.fa"));
    ASSERT_NE(pipe_source, nullptr);
    ASSERT_TRUE(read_fasta(*pipe_source, console, from_pipe));
  }
  ASSERT_EQ(from_pipe.size(), 5000u);
  ASSERT_EQ(from_pipe.size(), from_file.size());
  for (std::size_t i = 0; i < from_pipe.size(); ++i) {
    SCOPED_TRACE(i);
    // Every offset points at the '>' of its header, carriage returns counted.
    ASSERT_EQ(fasta[from_pipe[i].offset], '>');
    EXPECT_EQ(from_pipe[i].offset, from_file[i].offset);
    EXPECT_EQ(from_pipe[i].identifier, from_file[i].identifier);
    EXPECT_EQ(from_pipe[i].sequence, from_file[i].sequence);
  }
}

#endif  // _WIN32

}  // namespace
}  // namespace tarnel
