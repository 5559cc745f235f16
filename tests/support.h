// Helpers shared by the tests: SDF records built from atom and bond lists,
// in-process runs that observe a refusal, and runs of the built binary in a
// fresh temporary directory.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <algorithm>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "common/fatal.h"
#include "common/molecule.h"
#include "molecule/sdf_record.h"

namespace tarnaxel::test {

struct BondSpec {
  int first;
  int second;
  int type;
};

// One V2000 record with the given title, atom symbols and bonds.
inline std::string sdf_record(const std::string& title, const std::vector<std::string>& atoms,
                              const std::vector<BondSpec>& bonds, const std::string& tail = "M  END\n") {
  char line[128];
  std::string s = title + "\n  tarnaxel test\n\n";
  std::snprintf(line, sizeof line, "%3zu%3zu  0  0  0  0  0  0  0  0999 V2000\n", atoms.size(), bonds.size());
  s += line;
  for (const std::string& a : atoms) {
    std::snprintf(line, sizeof line, "    0.0000    0.0000    0.0000 %-3s 0  0  0  0  0  0  0  0  0  0  0  0\n",
                  a.c_str());
    s += line;
  }
  for (const BondSpec& b : bonds) {
    std::snprintf(line, sizeof line, "%3d%3d%3d  0\n", b.first, b.second, b.type);
    s += line;
  }
  return s + tail + "$$$$\n";
}

// The sample records the tests share.
inline std::string ethanol() { return sdf_record("ethanol", {"C", "C", "O"}, {{1, 2, 1}, {2, 3, 1}}); }
inline std::string ethane() { return sdf_record("ethane", {"C", "C"}, {{1, 2, 1}}); }
inline std::string propanol(const std::string& tail = "M  END\n") {
  return sdf_record("propanol", {"C", "C", "C", "O"}, {{1, 2, 1}, {2, 3, 1}, {3, 4, 1}}, tail);
}
inline std::string disulfide() { return sdf_record("disulfide", {"S", "S"}, {{1, 2, 1}}); }

// A grid of carbons.  The 5 x 10 one has width 6, and a repeated group makes
// its configuration tables grow far beyond a small memory limit.
inline std::string grid_record(int columns = 5, int rows = 10) {
  std::vector<BondSpec> bonds;
  for (int r = 0; r < rows; ++r)
    for (int c = 0; c < columns; ++c) {
      int k = r * columns + c + 1;
      if (c + 1 < columns) bonds.push_back({k, k + 1, 1});
      if (r + 1 < rows) bonds.push_back({k, k + columns, 1});
    }
  return sdf_record("grid", std::vector<std::string>(static_cast<size_t>(columns * rows), "C"), bonds);
}

// The molecule graph of one record, coded through an automaton's label tables.
inline Molecule molecule_of(const Automaton& automaton, const std::string& record) {
  std::unique_ptr<LineReader> input = LineReader::from_text(record);
  input->begin_record();
  Molecule m;
  read_record(*input, automaton, 1, m, [](int, int) {});
  return m;
}

// Runs f and returns the bytes of the refusal it throws ("" when none).
inline std::string refusal(const std::function<void()>& f, Stream* stream = nullptr) {
  try {
    f();
  } catch (const Fatal& fatal) {
    if (stream) *stream = fatal.stream();
    return fatal.bytes();
  }
  return "";
}

inline std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

inline void write_file(const std::filesystem::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

// The bench corpus unpacked to path, its first lines only when lines is not 0.
inline bool unpack_corpus(const std::filesystem::path& path, size_t lines = 0) {
  const std::string head = lines == 0 ? "" : " | head -n " + std::to_string(lines);
  return std::system(("gzip -dc '" + std::string(TARNAXEL_SOURCE_DIR) + "/bench/corpus.sdf.gz'" + head + " > '" +
                      path.string() + "'")
                         .c_str()) == 0;
}

// A fresh working directory under the system's temporary directory.
class TempDir {
 public:
  TempDir() {
    char name[] = "/tmp/tarnaxel-test-XXXXXX";
    path_ = mkdtemp(name);
  }
  // A file that vanishes meanwhile (a server removing its pid file as it
  // stops) makes one pass fail: the second one finds it gone.
  ~TempDir() {
    std::error_code error;
    std::filesystem::remove_all(path_, error);
    if (error) std::filesystem::remove_all(path_, error);
  }
  const std::filesystem::path& path() const { return path_; }
  std::string read(const std::string& name) const { return read_file(path_ / name); }
  void write(const std::string& name, const std::string& text) const { write_file(path_ / name, text); }

 private:
  std::filesystem::path path_;
};

struct RunResult {
  int status;
  std::string out;
  std::string err;
};

// Runs the built tool in dir with the given arguments.  prefix is shell text
// put before the tool's name: variable assignments ("NAME=1 ") or a command
// piped into it ("cat in.sdf | ").  A run killed by signal s has the status
// 128 + s.
inline RunResult run_binary(const TempDir& dir, const std::vector<std::string>& args,
                            const std::string& prefix = "") {
  auto quote = [](std::string& out, const std::string& s) {
    out.push_back('\'');
    for (char c : s) {
      if (c == '\'') {
        out.append("'\\''");
      } else {
        out.push_back(c);
      }
    }
    out.push_back('\'');
  };
  std::string command("cd ");
  quote(command, dir.path().string());
  command.append(" && ulimit -c 0 && " + prefix);
  quote(command, TARNAXEL_BINARY);
  for (const std::string& a : args) {
    command.push_back(' ');
    quote(command, a);
  }
  command.append(" > stdout.txt 2> stderr.txt");
  int raw = std::system(command.c_str());
  RunResult r{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, dir.read("stdout.txt"), dir.read("stderr.txt")};
  std::filesystem::remove(dir.path() / "stdout.txt");
  std::filesystem::remove(dir.path() / "stderr.txt");
  return r;
}

// The standard output of a run with the timing fields blanked out.
inline std::string without_timings(const std::string& out) {
  std::istringstream in(out);
  std::string line;
  std::string result;
  while (std::getline(in, line)) {
    if (line.rfind("Total Duration:", 0) == 0) {
      line = "Total Duration:T";
    } else if (std::count(line.begin(), line.end(), '\t') == 6) {
      line = line.substr(0, line.rfind('\t')) + "\tT";
    }
    result += line + "\n";
  }
  return result;
}

// Splits SDF text into its records (each ending after its "$$$$" line).
inline std::vector<std::string> records_of(const std::string& text) {
  std::vector<std::string> records;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find("\n$$$$", at);
    end = end == std::string::npos ? text.size() : text.find('\n', end + 1);
    end = end == std::string::npos ? text.size() : end + 1;
    records.push_back(text.substr(at, end - at));
    at = end;
  }
  return records;
}

// Bond-line column 9 characters may differ ("8" for unmatched bonds);
// everything else of an accepted record is as read.
inline bool same_but_marks(const std::string& read, const std::string& written) {
  if (read.size() != written.size()) return false;
  for (size_t i = 0; i < read.size(); ++i)
    if (read[i] != written[i] && written[i] != '8') return false;
  return true;
}

// Checks a finished run in dir against its input records: each statistics
// line names the next record in order, the record is in the file its result
// code names, byte for byte (accepted ones apart from the marks), every
// output record is accounted for, and the summary agrees.  Returns "" or
// what is wrong.
inline std::string lost_records(const std::vector<std::string>& input, const std::string& out, const TempDir& dir) {
  const std::vector<std::string> files[3] = {records_of(dir.read("reject.sdf")), records_of(dir.read("accept.sdf")),
                                             records_of(dir.read("tw_big.sdf"))};
  size_t next[3] = {0, 0, 0};
  size_t n = 0;
  std::istringstream lines(out);
  std::string line;
  while (std::getline(lines, line)) {
    if (std::count(line.begin(), line.end(), '\t') != 6) continue;
    int number = 0, atoms = 0, bonds = 0, result = -1;
    std::sscanf(line.c_str(), "%d\t%d\t%d\t%d", &number, &atoms, &bonds, &result);
    std::string where = "record " + std::to_string(n + 1) + ": ";
    if (number != static_cast<int>(n) + 1) return where + "statistics line numbered " + std::to_string(number);
    if (n >= input.size()) return where + "more statistics lines than records";
    int f = result == 0 ? 0 : result == 1 ? 1 : 2;
    if (next[f] >= files[f].size()) return where + "missing from its output file";
    const std::string& written = files[f][next[f]++];
    if (f == 1 ? !same_but_marks(input[n], written) : input[n] != written) return where + "changed in its output file";
    ++n;
  }
  if (n != input.size()) return std::to_string(input.size() - n) + " records without a statistics line";
  for (int f = 0; f < 3; ++f)
    if (next[f] != files[f].size()) return "an output file holds records that no statistics line names";
  char summary[80];
  std::snprintf(summary, sizeof summary, "Accept:%zu Reject:%zu TW_Big:%zu\n", next[1], next[0], next[2]);
  if (out.find(summary) == std::string::npos) return std::string("summary is not ") + summary;
  return "";
}

}  // namespace tarnaxel::test
