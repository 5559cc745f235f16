// The compiled part of the Python package: a pattern compiled and loaded
// once, single records matched on the calling thread, and a screen that
// reads records in batches and judges each batch on several threads.  Every
// refusal of the tool is a PatternError or a RecordError carrying its
// message; nothing here ends the process.
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/fatal.h"
#include "driver/compile.h"
#include "driver/explain.h"
#include "driver/judge.h"
#include "driver/pattern_set.h"
#include "molecule/line_reader.h"
#include "driver/options.h"
#include "molecule/sdf_record.h"
#include "molecule/smiles.h"
#include "matcher/matcher.h"
#include "rulefile/automaton.h"
#include "rulefile/loader.h"

namespace py = pybind11;

namespace tarnaxel {
namespace {

// The exception types, made when the module is loaded.
PyObject* pattern_error = nullptr;
PyObject* record_error = nullptr;

// Raises the Python error for a refusal: its text the English line, its
// message attribute the tool's own message decoded from CP932.
[[noreturn]] void raise(PyObject* type, const Fatal& fatal, const std::string& english) {
  py::object error = py::reinterpret_borrow<py::object>(type)(py::str(english));
  error.attr("message") = py::bytes(fatal.bytes()).attr("decode")("cp932", "replace");
  PyErr_SetObject(type, error.ptr());
  throw py::error_already_set();
}

[[noreturn]] void raise_record(const Fatal& fatal) {
  raise(record_error, fatal, explain_record_refusal(fatal.bytes()));
}


// One judged record, as Python sees it: 0-based bonds and atoms.
py::tuple to_python(const Automaton& automaton, const MatchOptions& options, const Molecule& molecule,
                    const MatchResult& r) {
  py::list bonds;
  for (int e : r.match_edges) bonds.append((e + 1) / 2 - 1);
  py::list atoms;
  for (int a : matched_atoms(automaton, options, molecule, r)) atoms.append(a - 1);
  return py::make_tuple(r.result, r.width, r.score, py::tuple(bonds), py::tuple(atoms));
}

// The aromatic atoms and bonds (from 0) of a molblock, as --aromatic
// perceives them.
py::tuple perceive(const std::string& text) {
  // Bond types coded as themselves: an aromatic bond is read as type 4.
  static const std::unique_ptr<const Automaton> types = load_rules_from_text("q1\nC\n1,2,3,4\n");
  std::unique_ptr<LineReader> input = LineReader::from_text(text);
  Molecule molecule;
  try {
    if (!input->begin_record()) throw Fatal(Stream::err, "Error: the molblock holds no record.");
    Perceiver perceiver;
    read_record(*input, *types, 1, molecule, [](int, int) {}, &perceiver);
  } catch (const Fatal& fatal) {
    raise_record(fatal);
  }
  py::list atoms;
  for (size_t a = 1; a <= molecule.atom_count; ++a)
    if (molecule.atoms[a].aromatic) atoms.append(a - 1);
  py::list bonds;
  for (size_t b = 1; 2 * b <= molecule.edge_count; ++b)
    if (molecule.edges[2 * b - 1].label == types->find_bond_label("4")) bonds.append(b - 1);
  return py::make_tuple(py::tuple(atoms), py::tuple(bonds));
}

class CompiledPattern {
 public:
  explicit CompiledPattern(std::string pattern) {
    const std::string original = pattern;
    try {
      check_pattern_text(pattern);
      text_ = compile_pattern(pattern);
      automaton_ = load_rules_from_text(text_);
    } catch (const Fatal& fatal) {
      raise(pattern_error, fatal, explain_pattern_refusal(original, fatal.bytes()));
    }
  }

  py::bytes automaton_text() const { return py::bytes(text_); }
  const Automaton& automaton() const { return *automaton_; }
  int rule_count() const { return automaton_->rule_count; }

  // Matches the one record of text: (result, width, score, bonds, atoms).
  // smiles: text is one SMILES (and title), not a molblock.
  py::tuple match(const std::string& text, bool span, bool ind, bool min, bool aromatic, bool smiles) {
    std::unique_ptr<LineReader> input = LineReader::from_text(text);
    Molecule molecule;
    try {
      Perceiver perceiver;
      if (smiles) {
        read_smiles(text, *automaton_, 1, molecule, aromatic ? &perceiver : nullptr);
      } else {
        if (!input->begin_record()) throw Fatal(Stream::err, "Error: the molblock holds no record.");
        read_record(*input, *automaton_, 1, molecule, [](int, int) {}, aromatic ? &perceiver : nullptr);
      }
    } catch (const Fatal& fatal) {
      raise_record(fatal);
    }
    MatchOptions options = match_options(span, ind, min);
    options.aromatic = aromatic || smiles;
    MatchResult result;
    {
      // The matcher is taken without the interpreter's lock, so that a
      // thread waiting for it never holds what the one using it needs.
      py::gil_scoped_release free;
      std::lock_guard<std::mutex> lock(mutex_);
      if (!matcher_) matcher_ = std::make_unique<Matcher>(*automaton_, table_memory_limit());
      result = matcher_->match(options, molecule);
    }
    return to_python(*automaton_, options, molecule, result);
  }

 private:
  std::string text_;
  std::unique_ptr<const Automaton> automaton_;
  std::mutex mutex_;
  std::unique_ptr<Matcher> matcher_;
};

// A set of named patterns: from a file of "name<TAB>pattern" lines, or from
// (name, pattern) pairs.
class CompiledSet {
 public:
  explicit CompiledSet(py::object source) {
    try {
      if (py::isinstance<py::str>(source)) {
        set_ = PatternSet::read_file(source.cast<std::string>());
      } else {
        set_ = PatternSet::from_pairs(source.cast<std::vector<std::pair<std::string, std::string>>>());
      }
    } catch (const Fatal& fatal) {
      // The English line names the pattern; a refusal of the file itself is its first line.
      const std::string bytes = fatal.bytes();
      raise(pattern_error, fatal, fatal.detail().empty() ? bytes.substr(0, bytes.find('\n')) : fatal.detail());
    }
  }
  const PatternSet& set() const { return *set_; }
  py::list names() const {
    py::list names;
    for (size_t i = 0; i < set_->size(); ++i) names.append((*set_)[i].name);
    return names;
  }
  py::list patterns() const {
    py::list patterns;
    for (size_t i = 0; i < set_->size(); ++i) patterns.append((*set_)[i].text);
    return patterns;
  }
  int rule_count() const { return set_->rule_count(); }

 private:
  std::unique_ptr<PatternSet> set_;
};

// Records from a Python callable read(n) -> bytes (b"" at the end).
class PythonReader : public LineReader {
 public:
  explicit PythonReader(py::object read) : read_(std::move(read)) {}

 protected:
  size_t refill(char* data, size_t size) override {
    py::bytes chunk = read_(size);
    std::string_view bytes = chunk;
    const size_t n = std::min(size, bytes.size());
    std::memcpy(data, bytes.data(), n);
    return n;
  }

 private:
  py::object read_;
};

struct Record {
  std::string title;
  std::string text;
  Molecule molecule;
  MatchResult result;
  std::vector<uint8_t> results;          // with a set, by pattern
  std::vector<PatternVerdict> verdicts;  // with a set, by pattern
  std::string bad;  // with skip_bad, the reader's refusal of the record
};

// A screen of one input: batches of records read on the calling thread and
// judged on several.  The verdicts are those of the tool on one thread: a
// record over one thread's share of the memory limit is judged again alone
// with the whole of it.
class Screener {
 public:
  // patterns: a CompiledPattern or a CompiledSet.
  Screener(py::object patterns, py::object source, bool span, bool ind, bool min, bool aromatic, bool smiles,
           bool skip_bad, int threads, bool keep_text)
      : options_(match_options(span, ind, min)), threads_(std::max(1, threads)), keep_text_(keep_text),
        limit_(table_memory_limit()), smiles_(smiles), perceive_(aromatic), skip_bad_(skip_bad) {
    options_.aromatic = aromatic || smiles;
    if (py::isinstance<CompiledSet>(patterns)) {
      set_ = &patterns.cast<const CompiledSet&>().set();
      automaton_ = &set_->labels();
    } else {
      automaton_ = &patterns.cast<const CompiledPattern&>().automaton();
    }
    if (py::isinstance<py::str>(source)) {
      input_ = LineReader::open(source.cast<std::string>());
      if (!input_) raise_record(Fatal(Stream::err, "Error: Cannot open SDF_file."));
    } else {
      input_ = std::make_unique<PythonReader>(source);
    }
    for (int i = 0; i < threads_; ++i)
      judges_.push_back(std::make_unique<Judge>(*automaton_, set_, options_, limit_ / static_cast<size_t>(threads_)));
  }

  // The next records, at most n: a list of (index, title, result, width,
  // score, bonds, atoms, text or None); with a set, result is a list of
  // (result, width, score, bonds, atoms) by pattern; empty at the end.  A
  // record that cannot be read ends the list; the next call raises its error.
  py::list next(size_t n) {
    if (failure_) {
      Fatal fatal = *failure_;
      failure_.reset();
      done_ = true;
      raise_record(fatal);
    }
    py::list out;
    if (done_) return out;
    read(n);
    judge();
    for (size_t i = 0; i < count_; ++i) {
      Record& r = records_[i];
      if (!r.bad.empty()) {
        // The refusal in place of the verdict: result -1, the message last.
        out.append(py::make_tuple(first_index_ + i, r.title, -1, 0, 0.0, py::tuple(), py::tuple(),
                                  py::bytes(r.bad)));
        continue;
      }
      const py::object text = keep_text_ ? py::object(py::bytes(r.text)) : py::object(py::none());
      if (set_ != nullptr) {
        out.append(py::make_tuple(first_index_ + i, r.title, each_pattern(r), r.result.width, 0.0, py::tuple(),
                                  py::tuple(), text));
        continue;
      }
      py::tuple judged = to_python(*automaton_, options_, r.molecule, r.result);
      out.append(py::make_tuple(first_index_ + i, r.title, judged[0], judged[1], judged[2], judged[3], judged[4],
                                text));
    }
    first_index_ += count_;
    return out;
  }

 private:
  static py::list each_pattern(const Record& r) {
    py::list each;
    for (const PatternVerdict& v : r.verdicts) {
      py::list bonds;
      for (int e : v.result.match_edges) bonds.append((e + 1) / 2 - 1);
      py::list atoms;
      for (int a : v.atoms) atoms.append(a - 1);
      each.append(py::make_tuple(v.result.result, v.result.width, v.result.score, py::tuple(bonds), py::tuple(atoms)));
    }
    return each;
  }

  void read(size_t n) {
    count_ = 0;
    while (count_ < n && !failure_) {
      if (records_.size() == count_) records_.emplace_back();
      Record& r = records_[count_];
      try {
        if (!(smiles_ ? input_->begin_smiles_record() : input_->begin_record())) {
          done_ = true;
          break;
        }
        const int number = static_cast<int>(first_index_ + count_ + 1);
        Perceiver* perceiver = perceive_ ? &perceiver_ : nullptr;
        if (smiles_) smiles_reader_.read(input_->record(), *automaton_, number, r.molecule, perceiver);
        else read_record(*input_, *automaton_, number, r.molecule, [](int, int) {}, perceiver);
        r.bad.clear();
      } catch (const BadRecord& fatal) {
        if (!skip_bad_) {
          failure_ = std::make_unique<Fatal>(fatal);
          break;
        }
        r.bad = fatal.bytes();
        r.molecule = Molecule{};
        if (!smiles_) input_->end_bad_record();
      } catch (const Fatal& fatal) {
        failure_ = std::make_unique<Fatal>(fatal);
        break;
      }
      const std::string_view text = input_->record();
      const size_t end = text.find('\n');
      std::string_view title = text.substr(0, end == std::string_view::npos ? text.size() : end);
      if (!title.empty() && title.back() == '\r') title.remove_suffix(1);
      if (smiles_) title = smiles_title(text);
      r.title.assign(title);
      if (keep_text_) r.text.assign(text);
      ++count_;
    }
  }

  void judge() {
    std::exception_ptr fault;
    {
      py::gil_scoped_release free;
      judge_on_threads(fault);
    }
    if (fault) {
      try {
        std::rethrow_exception(fault);
      } catch (const Fatal& fatal) {
        done_ = true;
        raise_record(fatal);
      }
    }
  }

  // Judges the records read, on the threads; the first refusal met (none is
  // expected of records the reader took) is kept in fault.
  void judge_on_threads(std::exception_ptr& fault) {
    std::atomic<size_t> next{0};
    std::mutex faults;
    auto work = [&](Judge& judge) {
      for (size_t i; (i = next.fetch_add(1)) < count_;) {
        Record& r = records_[i];
        if (!r.bad.empty()) continue;
        try {
          judge.judge(r.molecule, r.result, r.results, set_ != nullptr ? &r.verdicts : nullptr);
        } catch (...) {
          std::lock_guard<std::mutex> lock(faults);
          if (!fault) fault = std::current_exception();
        }
      }
    };
    if (threads_ == 1 || count_ < 2) {
      work(*judges_[0]);
    } else {
      std::vector<std::thread> workers;
      for (int t = 1; t < threads_; ++t) workers.emplace_back(work, std::ref(*judges_[static_cast<size_t>(t)]));
      work(*judges_[0]);
      for (std::thread& w : workers) w.join();
    }
    for (size_t i = 0; i < count_ && threads_ > 1; ++i) {
      Record& r = records_[i];
      if (!r.result.over_budget) continue;
      if (!whole_) whole_ = std::make_unique<Judge>(*automaton_, set_, options_, limit_);
      whole_->judge(r.molecule, r.result, r.results, set_ != nullptr ? &r.verdicts : nullptr);
    }
  }

  const Automaton* automaton_ = nullptr;  // what records are read against
  const PatternSet* set_ = nullptr;
  MatchOptions options_;
  int threads_;
  bool keep_text_;
  size_t limit_;
  bool smiles_;
  bool perceive_;
  bool skip_bad_;
  std::unique_ptr<LineReader> input_;
  Perceiver perceiver_;
  SmilesReader smiles_reader_;
  std::vector<std::unique_ptr<Judge>> judges_;
  std::unique_ptr<Judge> whole_;
  std::vector<Record> records_;
  size_t count_ = 0;
  size_t first_index_ = 0;
  bool done_ = false;
  std::unique_ptr<Fatal> failure_;
};

}  // namespace
}  // namespace tarnaxel

PYBIND11_MODULE(_tarnaxel, m) {
  using namespace tarnaxel;
  m.doc() = "The compiled part of the tarnaxel package.";
  pattern_error = PyErr_NewException("tarnaxel.PatternError", PyExc_ValueError, nullptr);
  record_error = PyErr_NewException("tarnaxel.RecordError", PyExc_ValueError, nullptr);
  m.attr("PatternError") = py::handle(pattern_error);
  m.attr("RecordError") = py::handle(record_error);
  py::class_<CompiledPattern>(m, "CompiledPattern")
      .def(py::init<std::string>())
      .def_property_readonly("automaton_text", &CompiledPattern::automaton_text)
      .def_property_readonly("rule_count", &CompiledPattern::rule_count)
      .def("match", &CompiledPattern::match);
  py::class_<CompiledSet>(m, "CompiledSet")
      .def(py::init<py::object>())
      .def_property_readonly("names", &CompiledSet::names)
      .def_property_readonly("patterns", &CompiledSet::patterns)
      .def_property_readonly("rule_count", &CompiledSet::rule_count);
  py::class_<Screener>(m, "Screener")
      .def(py::init<py::object, py::object, bool, bool, bool, bool, bool, bool, int, bool>(), py::keep_alive<1, 2>())
      .def("next", &Screener::next);
  m.def("perceive", &perceive, "The aromatic atoms and bonds (from 0) of one V2000 molblock.");
  m.def("explain_record", [](const std::string& message) { return explain_record_refusal(message); },
        "The English line of a record refusal.");
}
