// Whole runs on the real file system with input that no well-behaved user would give: binary
// garbage, directories where files belong, lines of megabytes, odd line ends, NUL bytes, paths
// that cannot exist, an output file that is also the input, and pipes instead of files.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <thread>
#endif

#include "base/host_file_system.h"
#include "run/species_list.h"
#include "species/fasta_reader.h"
#include "test_support.h"

namespace tarnel {
namespace {

namespace fs = std::filesystem;

constexpr char kHeader[] = "species_name\tFASTA_file_name\n";
constexpr char kDirectory[] = "<directory>";  // a directory in place of the file
constexpr char kAbsent[] = "<absent>";        // no file at all

// The host's file system, counting the bytes that reads deliver.
class CountingFileSystem final : public FileSystem {
 public:
  std::uint64_t bytes_read = 0;

  std::unique_ptr<ByteSource> open_for_reading(const std::string& path) override {
    std::unique_ptr<ByteSource> source = host_.open_for_reading(path);
    return source ? std::make_unique<Counting>(std::move(source), bytes_read) : nullptr;
  }
  std::unique_ptr<StagedFile> stage(const std::string& path) override { return host_.stage(path); }
  bool make_directories(const std::string& path) override { return host_.make_directories(path); }
  std::size_t publish(std::span<StagedFile* const> files) override { return host_.publish(files); }

 private:
  struct Counting final : ByteSource {
    Counting(std::unique_ptr<ByteSource> source, std::uint64_t& counter)
        : inner(std::move(source)), count(counter) {}
    std::ptrdiff_t read(char* buffer, std::size_t capacity) override {
      const std::ptrdiff_t got = inner->read(buffer, capacity);
      count += got > 0 ? static_cast<std::uint64_t>(got) : 0;
      return got;
    }
    std::unique_ptr<ByteSource> inner;
    std::uint64_t& count;
  };
  HostFileSystem host_;
};

std::string wrapped(std::string_view sequence) {
  std::string out;
  for (std::size_t at = 0; at < sequence.size(); at += 80) {
    out.append(sequence.substr(at, 80)).push_back('\n');
  }
  return out;
}

class HostileInputTest : public ::testing::Test {
 protected:
  HostileInputTest() { clear(); }
  ~HostileInputTest() override { fs::remove_all(root_); }

  // Leaves the temp directory with nothing but the empty input and output directories.
  void clear() const {
    fs::remove_all(root_);
    for (const char* directory : {"protein", "status", "dup", "fasta"}) {
      fs::create_directories(root_ + "/" + directory);
    }
  }
  // Joined with '/', which every host accepts, so that messages read the same everywhere.
  std::string path(const std::string& relative) const { return root_ + "/" + relative; }
  void write(const std::string& relative, const std::string& bytes) const {
    if (bytes == kDirectory) fs::create_directories(path(relative));
    if (bytes != kDirectory) std::ofstream(path(relative), std::ios::binary) << bytes;
  }
  std::string read(const std::string& relative) const {
    std::ifstream in(path(relative), std::ios::binary);
    return fs::exists(path(relative))
               ? std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>())
               : kAbsent;
  }

  const std::string root_ =
      (fs::temp_directory_path() / ("tarnel-hostile-" + std::to_string(std::random_device()())))
          .generic_string();
};

struct HostileCase {
  const char* name;
  std::map<std::string, std::string> files;  // over a full list of x and an empty active list
  int exit_code;
  std::string console;                         // a part of the console output
  std::map<std::string, std::string> after{};  // files after the run
  std::vector<std::string> options{};
  std::uint64_t max_bytes_read = UINT64_MAX;
};

TEST_F(HostileInputTest, AnswersHostileInputLikeAnyOther) {
  using namespace std::string_literals;
  // Every byte value, high to low, as lines: each is cut at its NUL, a sequence line also at its
  // CR. As a list, the line after the header has no TAB.
  std::string garbage = ">bin|x\n";
  std::string garbage_sequence;
  for (int b = 255 + 256; b > 0; --b) garbage.push_back(static_cast<char>(b));
  for (int b = 255; b > 13; --b) garbage_sequence.push_back(static_cast<char>(b));
  garbage_sequence += "\t\b\a\6\5\4\3\2\1\t\b\a\6\5\4\3\2\1";
  // An input of several read blocks, which must be read whole before the output replaces it.
  std::string big_input;
  std::string big_output;
  for (int k = 0; k < 4000; ++k) {
    const std::string sequence = std::string(1000 + k % 50, "ACDEFGHIK"[k % 9]) + std::to_string(k);
    big_input += ">Q" + std::to_string(k) + " protein\n" + wrapped(sequence);
    big_output += ">Q" + std::to_string(k) + "\n" + wrapped(sequence);
  }
  const std::string nul_list = kHeader + "x\tx.fa\0junk\tmore\n"s;

  const HostileCase cases[] = {
      {"binary garbage as a list", {{"all.txt", garbage}}, 3, "no 2nd field in line 2\n"},
      {"binary garbage as a FASTA file",
       {{"protein/x.fa", garbage}},
       0,
       "     1 of      1 proteins written",
       {{"fasta/x.fas", ">bin\n" + wrapped(garbage_sequence)}}},
      {"a directory as a list",
       {{"all.txt", kDirectory}},
       2,
       "Bad or missing list of all species " + path("all.txt") + "\n"},
      {"a directory as a FASTA file",
       {{"protein/x.fa", kDirectory}},
       0,
       "can't open input file " + path("protein/x.fa") + "\n",
       {{"status/x", kAbsent}, {"dup/x.tsv", kAbsent}}},
      {"a FASTA line of megabytes",
       {{"protein/x.fa", ">P1\n" + std::string(8 << 20, 'M') + "\n>P2\nMK\n"},
        {"status/x", "earlier run\n"}},
       0,
       "failed at line 2\n",
       {{"status/x", "earlier run\n"}, {"dup/x.tsv", kAbsent}},
       {},
       2 << 20},
      {"a FASTA file with CR-only line ends is one header line",
       {{"protein/x.fa", ">P1 first\rMKV\r>P2\rMKV\r"}},
       0,
       "     0 of      0 proteins written",
       {{"fasta/x.fas", ""}, {"status/x", ""}, {"dup/x.tsv", ""}}},
      {"NUL bytes end the text of list lines, headers and sequence lines",
       {{"all.txt", nul_list},
        {"active.txt", nul_list},
        {"protein/x.fa", ">P1\0hidden desc\nMK\0V\n>P2 x\nMK\n"s}},
       0,
       "Number of species to activate: 1 of 1\n",
       {{"fasta/x.fas", ">P1\nMK\n"}, {"status/x", "      1      0     2 .\n"}}},
      {"a species name whose directory does not exist",
       {{"all.txt", kHeader + "missing/x\tx.fa\ny\tx.fa\n"s}, {"protein/x.fa", ">P\nMKV\n"}},
       0,
       "can't create duplicate file " + path("dup/missing/x.tsv") + "\ny...",
       {{"status/missing", kAbsent}, {"status/y", "      1      0     3   \n"}}},
      {"the output FASTA file is the input file",
       {{"protein/x.fa", big_input}},
       0,
       "  4000 of   4000 proteins written",
       {{"protein/x.fa", big_output}},
       {"-c", "0", "-r", "0", "-u", "0", "-o", path("protein/"), "-p", "fa"}},
  };
  for (const HostileCase& c : cases) {
    SCOPED_TRACE(c.name);
    clear();
    std::map<std::string, std::string> files = {{"all.txt", kHeader + "x\tx.fa\n"s},
                                                {"active.txt", kHeader}};
    for (const auto& [relative, bytes] : c.files) files[relative] = bytes;
    for (const auto& [relative, bytes] : files) write(relative, bytes);
    std::vector<std::string> arguments = {
        "tarnel",        "-w", "1",          "-i", path("protein/"), "-s",
        path("status/"), "-d", path("dup/"), "-o", path("fasta/")};
    arguments.insert(arguments.end(), c.options.begin(), c.options.end());
    arguments.insert(arguments.end(), {path("active.txt"), path("all.txt")});
    testing::FakeClock clock;
    CountingFileSystem counting;
    std::string console;
    EXPECT_EQ(testing::run_tool(arguments, console, clock, counting), c.exit_code);
    EXPECT_NE(console.find(c.console), std::string::npos) << console;
    for (const auto& [relative, bytes] : c.after)
      EXPECT_TRUE(read(relative) == bytes) << relative << " differs";
    // A line over the limit is given up on at once, never read much further than one block.
    EXPECT_LE(counting.bytes_read, c.max_bytes_read);
    for (const auto& entry : fs::recursive_directory_iterator(root_))  // no temporary left
      EXPECT_NE(entry.path().filename().string().rfind(".tn", 0), 0u) << entry.path();
  }
}

#ifndef _WIN32
// Feeds a FIFO from a thread that waits at most 20 seconds for a reader. A reader that stops
// early makes the writes fail rather than raise SIGPIPE.
std::jthread feed(std::string path, std::string bytes) {
  return std::jthread([path = std::move(path), bytes = std::move(bytes)] {
    sigset_t pipe_signal;
    sigemptyset(&pipe_signal);
    sigaddset(&pipe_signal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe_signal, nullptr);
    int fd = -1;
    for (int waited = 0; fd < 0 && waited < 20000; ++waited) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      fd = open(path.c_str(), O_WRONLY | O_NONBLOCK);
    }
    if (fd < 0) return;
    fcntl(fd, F_SETFL, 0);  // blocking writes from here
    for (ssize_t at = 0, put = 0; put >= 0 && at < std::ssize(bytes); at += put) {
      put = ::write(fd, bytes.data() + at, bytes.size() - static_cast<std::size_t>(at));
    }
    close(fd);
  });
}

TEST_F(HostileInputTest, ReadsAListAndAFastaFileFromPipesAsFromFiles) {
  // Several read blocks and many pipe buffers of CR LF lines.
  std::string fasta;
  for (int k = 0; k < 5000; ++k) {
    fasta += ">R" + std::to_string(k) + " from a pipe\r\n" +
             std::string(600 + k % 70, "MKVLAGHST"[k % 9]) + "\r\n";
  }
  const std::string list = std::string(kHeader) + "a\ta.fa\r\nb\tb.fa\n";
  HostFileSystem host;
  std::ostringstream ignored;
  Console console(ignored);
  // What the readers make of the two files, offsets and line numbers included.
  const auto read_both = [&](const std::string& list_name, const std::string& fasta_name) {
    SpeciesList species;
    ProteinSet proteins;
    EXPECT_TRUE(read_master_list(host, console, path(list_name), species).ok());
    EXPECT_TRUE(read_fasta(host, console, path(""), fasta_name, proteins));
    std::ostringstream out;
    for (int i = 0; i < species.size(); ++i) out << species.names[i] << species.file_names[i];
    for (const ProteinRecord& record : proteins.records) {
      out << record.identifier << '|' << record.sequence << '|' << record.offset << '|'
          << record.line << '\n';
    }
    return out.str();
  };
  write("list.txt", list);
  write("file.fa", fasta);
  const std::string from_files = read_both("list.txt", "file.fa");
  ASSERT_EQ(mkfifo(path("list.pipe").c_str(), 0600), 0);
  ASSERT_EQ(mkfifo(path("pipe.fa").c_str(), 0600), 0);
  std::jthread list_feeder = feed(path("list.pipe"), list);
  std::jthread fasta_feeder = feed(path("pipe.fa"), fasta);
  EXPECT_TRUE(read_both("list.pipe", "pipe.fa") == from_files);
}
#endif  // _WIN32

}  // namespace
}  // namespace tarnel
