// Helpers shared by the tests: SDF records built from atom and bond lists,
// in-process runs that observe a refusal, and runs of the built binary in a
// fresh temporary directory.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "common/fatal.h"
#include "common/molecule.h"
#include "driver/sdf_record.h"

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

// The molecule graph of one record, coded through the loaded label tables.
inline Molecule molecule_of(const std::string& record) {
  std::unique_ptr<LineReader> input = LineReader::from_text(record);
  std::string text;
  input->next(text);
  Molecule m;
  read_record(*input, 1, text, m, [](int, int) {});
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

// A fresh working directory under the system's temporary directory.
class TempDir {
 public:
  TempDir() {
    char name[] = "/tmp/tarnaxel-test-XXXXXX";
    path_ = mkdtemp(name);
  }
  ~TempDir() { std::filesystem::remove_all(path_); }
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

// Runs the built tool in dir with the given arguments.
inline RunResult run_binary(const TempDir& dir, const std::vector<std::string>& args) {
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
  command.append(" && ");
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

}  // namespace tarnaxel::test
