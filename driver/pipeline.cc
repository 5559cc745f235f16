#include "driver/pipeline.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/fatal.h"
#include "driver/clock.h"
#include "driver/judge.h"
#include "molecule/sdf_record.h"
#include "molecule/smiles.h"
#include "driver/stats.h"

namespace tarnaxel {
namespace {

// The start of a statistics line: "number\tatoms\tbonds\t", or only
// "number\t" when the counts line was never read.
void put_line_start(StatsWriter& stats, int number, const int* counts) {
  stats.number(number).text("\t");
  if (counts != nullptr) stats.count(counts[0]).text("\t").count(counts[1]).text("\t");
}

// The next record of either kind of input.
bool begin(LineReader& input, const JudgeSetup& setup) {
  return setup.smiles ? input.begin_smiles_record() : input.begin_record();
}

// What reading keeps from one record to the next.
struct Readers {
  Perceiver perceiver;
  SmilesReader smiles;
};

void read_one(LineReader& input, const JudgeSetup& setup, int number, Molecule& molecule, const CountsReport& report,
              Readers& readers) {
  Perceiver& perceiver = readers.perceiver;
  Perceiver* perceive = setup.perceive ? &perceiver : nullptr;
  if (!setup.smiles) {
    read_record(input, setup.automaton, number, molecule, report, perceive);
    return;
  }
  readers.smiles.read(input.record(), setup.automaton, number, molecule, perceive);
  report(static_cast<int>(molecule.atom_count), static_cast<int>(molecule.edge_count / 2));
}

// A record the reader refused, with --skip-bad.
void put_bad(OutputFiles& outputs, const JudgeSetup& setup, int number, std::string_view text, const Fatal& bad) {
  if (setup.progress != nullptr) setup.progress->erase();
  outputs.route_bad(number, text, bad.bytes());
}

// The end of a judged record's line and its routing, for either kind of judge.
void put_verdict(StatsWriter& stats, OutputFiles& outputs, const JudgeSetup& setup, int number,
                 const MatchResult& result, const std::vector<uint8_t>& results, long ticks, std::string_view text,
                 const Molecule& molecule, unsigned long long source_bytes) {
  if (setup.set == nullptr) {
    put_judged(stats, outputs, setup, number, result, ticks, text, molecule, source_bytes);
  } else {
    put_judged_set(stats, outputs, setup, number, result, results, ticks, text, molecule, source_bytes);
  }
}

void judge_serially(LineReader& input, OutputFiles& outputs, const JudgeSetup& setup) {
  Judge judge(setup.automaton, setup.set, setup.options, setup.table_limit);
  MatchResult result;
  std::vector<uint8_t> results;
  Molecule molecule;
  Readers readers;
  StatsWriter stats;
  int number = 0;
  // With --skip-bad a record's statistics are kept back until it is read:
  // a record the reader refuses has none.
  const bool skip = outputs.skip_bad();
  auto report = [&](int atoms, int bonds) {
    stats.count(atoms).text("\t").count(bonds).text("\t");
    if (!skip) stats.put(outputs);
  };
  input.before_read([&outputs] { outputs.flush(); });
  try {
    while (begin(input, setup)) {
      stats.number(++number).text("\t");
      if (!skip) stats.put(outputs);
      try {
        read_one(input, setup, number, molecule, report, readers);
      } catch (const BadRecord& bad) {
        if (!skip) throw;
        stats.clear();
        put_bad(outputs, setup, number, setup.smiles ? input.record() : input.end_bad_record(), bad);
        continue;
      }
      const long start = clock_ticks();
      judge.judge(molecule, result, results);
      put_verdict(stats, outputs, setup, number, result, results, clock_ticks() - start, input.record(), molecule,
                  input.source_bytes());
    }
  } catch (const Fatal&) {
    // Everything judged goes out before the message.
    input.before_read(nullptr);
    outputs.flush();
    throw;
  }
  input.before_read(nullptr);
}

struct Job {
  int number = 0;
  int counts[2] = {0, 0};  // atoms, bonds
  std::string text;
  Molecule molecule;
  MatchResult result;
  std::vector<uint8_t> results;  // with a pattern set, by pattern
  long ticks = 0;
  bool retry = false;  // over one thread's share of the limit: judged again with the whole of it
  bool done = false;
  std::exception_ptr bad;  // with --skip-bad, the reader's refusal: the record goes to the bad file
  std::exception_ptr fault;  // a refusal met while judging, raised in input order
};

struct Batch {
  std::vector<Job> jobs;  // the first count in use; storage kept
  size_t count = 0;
  size_t done = 0;  // jobs judged
  // A record that could not be read ends the batch: its statistics so far
  // and its fault.
  std::string failed_start;
  std::exception_ptr failure;
};

class Pipeline {
 public:
  Pipeline(LineReader& input, OutputFiles& outputs, const JudgeSetup& setup)
      : input_(input), outputs_(outputs), setup_(setup) {
    for (int i = 0; i < 4 * setup.threads + 2; ++i) {
      batches_.push_back(std::make_unique<Batch>());
      free_.push_back(batches_.back().get());
    }
  }

  void run() {
    std::vector<std::thread> workers;
    for (int i = 0; i < setup_.threads; ++i) workers.emplace_back([this] { work(); });
    std::thread writer([this] { write(); });
    std::exception_ptr reader_fault;
    try {
      read();
    } catch (...) {
      reader_fault = std::current_exception();  // a write failure raised while waiting for input
    }
    finish_input();
    writer.join();
    for (std::thread& worker : workers) worker.join();
    if (failure_) std::rethrow_exception(failure_);
    if (reader_fault) std::rethrow_exception(reader_fault);
  }

 private:
  static constexpr size_t kBatchRecords = 128;

  // The reader: records into batches, a batch handed over when full, when
  // the input may make it wait, and at the end.
  void read() {
    Batch* batch = take_free();
    Molecule molecule;
    Readers readers;
    int number = 0;
    int counts[2] = {0, 0};
    bool counted = false;
    auto report = [&](int atoms, int bonds) {
      counts[0] = atoms;
      counts[1] = bonds;
      counted = true;
    };
    input_.before_read([&] {
      if (batch != nullptr && batch->count > 0) {
        hand_over(batch);
        batch = take_free();
      }
    });
    while (batch != nullptr) {
      bool begun = false;
      std::exception_ptr refused;  // with --skip-bad, the reader's refusal of this record
      try {
        if (!begin(input_, setup_)) break;
        begun = true;
        ++number;
        counted = false;
        read_one(input_, setup_, number, molecule, report, readers);
      } catch (const Fatal& fatal) {
        if (outputs_.skip_bad() && dynamic_cast<const BadRecord*>(&fatal) != nullptr) {
          refused = std::current_exception();
        } else {
          // The input cannot be read on: the records before go out, then the
          // statistics begun for this one, then the message.
          if (batch == nullptr) batch = take_free();
          if (batch == nullptr) break;
          StatsWriter stats;
          if (begun) put_line_start(stats, number, counted ? counts : nullptr);
          batch->failed_start.assign(stats.piece());
          batch->failure = std::current_exception();
          hand_over(batch);
          batch = nullptr;
          break;
        }
      }
      if (batch == nullptr) break;
      if (batch->jobs.size() == batch->count) batch->jobs.emplace_back();
      Job& job = batch->jobs[batch->count++];
      job.fault = nullptr;
      job.bad = refused;
      job.number = number;
      job.counts[0] = counts[0];
      job.counts[1] = counts[1];
      // A refused SDF record ends at its first "$$$$" line.
      job.text.assign(refused && !setup_.smiles ? input_.end_bad_record() : input_.record());
      if (!refused) std::swap(job.molecule, molecule);
      job.done = false;
      if (batch->count == kBatchRecords) {
        hand_over(batch);
        batch = take_free();
      }
    }
    input_.before_read(nullptr);
    if (batch != nullptr) {
      if (batch->count > 0) {
        hand_over(batch);
      } else {
        std::lock_guard<std::mutex> lock(mutex_);
        free_.push_back(batch);
      }
    }
  }

  // A free batch, or null once the run is stopping.
  Batch* take_free() {
    std::unique_lock<std::mutex> lock(mutex_);
    free_ready_.wait(lock, [this] { return stop_ || !free_.empty(); });
    if (stop_) return nullptr;
    Batch* batch = free_.back();
    free_.pop_back();
    return batch;
  }

  void hand_over(Batch* batch) {
    std::lock_guard<std::mutex> lock(mutex_);
    queued_.push_back(batch);
    ordered_.push_back(batch);
    work_ready_.notify_one();
    job_done_.notify_one();
  }

  void finish_input() {
    std::lock_guard<std::mutex> lock(mutex_);
    input_done_ = true;
    work_ready_.notify_all();
    job_done_.notify_all();
  }

  void stop() {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
    work_ready_.notify_all();
    free_ready_.notify_all();
  }

  // A worker: judges the records of one batch after another.
  void work() {
    Judge judge(setup_.automaton, setup_.set, setup_.options, setup_.table_limit / static_cast<size_t>(setup_.threads));
    for (;;) {
      Batch* batch = nullptr;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        work_ready_.wait(lock, [this] { return stop_ || input_done_ || !queued_.empty(); });
        if (stop_ || queued_.empty()) return;
        batch = queued_.front();
        queued_.pop_front();
      }
      // Once its last record is judged the batch may go back to the reader:
      // nothing of it is read after that.
      const size_t count = batch->count;
      for (size_t i = 0; i < count; ++i) {
        Job& job = batch->jobs[i];
        if (!job.bad) {
          std::shared_lock<std::shared_mutex> judging(judging_);
          const long start = clock_ticks();
          try {
            judge.judge(job.molecule, job.result, job.results);
          } catch (const Fatal&) {
            job.fault = std::current_exception();
          }
          job.ticks = clock_ticks() - start;
          job.retry = job.result.over_budget;
        }
        std::lock_guard<std::mutex> lock(mutex_);
        job.done = true;
        // The writer is woken once a batch is judged, or finds the jobs done
        // when it looks again.
        if (++batch->done == count && writer_waiting_) job_done_.notify_one();
      }
    }
  }

  // Waits until the job is judged, putting out what is kept first.  The
  // writer sleeps until the whole batch is judged, looking every few
  // milliseconds whether the job is, so that one slow record never holds
  // back the records judged before it.
  void wait_for(const Batch& batch, const Job& job) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (job.done) return;
    lock.unlock();
    outputs_.flush();
    lock.lock();
    writer_waiting_ = true;
    while (!job.done)
      job_done_.wait_for(lock, std::chrono::milliseconds(5), [&batch] { return batch.done == batch.count; });
    writer_waiting_ = false;
  }

  // The next batch in input order, or null at the end.
  Batch* next_in_order() {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!input_done_ && ordered_.empty()) {
      lock.unlock();
      outputs_.flush();
      lock.lock();
    }
    job_done_.wait(lock, [this] { return input_done_ || !ordered_.empty(); });
    return ordered_.empty() ? nullptr : ordered_.front();
  }

  // A record over one thread's share is judged again alone, with the whole
  // limit, while no other record is judged: the same verdict as on one thread.
  void judge_again(Job& job) {
    std::unique_lock<std::shared_mutex> alone(judging_);
    if (!whole_) whole_ = std::make_unique<Judge>(setup_.automaton, setup_.set, setup_.options, setup_.table_limit);
    const long start = clock_ticks();
    whole_->judge(job.molecule, job.result, job.results);
    job.ticks = clock_ticks() - start;
  }

  // The writer: every record in input order.
  void write() {
    try {
      StatsWriter stats;
      while (Batch* batch = next_in_order()) {
        for (size_t i = 0; i < batch->count; ++i) {
          Job& job = batch->jobs[i];
          wait_for(*batch, job);
          if (job.bad) {
            try {
              std::rethrow_exception(job.bad);
            } catch (const Fatal& bad) {
              put_bad(outputs_, setup_, job.number, job.text, bad);
            }
            continue;
          }
          if (job.fault) {
            put_line_start(stats, job.number, job.counts);
            stats.put(outputs_);
            outputs_.flush();
            std::rethrow_exception(job.fault);
          }
          if (job.retry && setup_.threads > 1) judge_again(job);
          put_line_start(stats, job.number, job.counts);
          put_verdict(stats, outputs_, setup_, job.number, job.result, job.results, job.ticks, job.text,
                      job.molecule, input_.source_bytes());
        }
        if (batch->failure) {
          outputs_.stats(batch->failed_start);
          outputs_.flush();
          failure_ = batch->failure;
          stop();
          return;
        }
        std::lock_guard<std::mutex> lock(mutex_);
        ordered_.pop_front();
        batch->count = 0;
        batch->done = 0;
        free_.push_back(batch);
        free_ready_.notify_one();
      }
      outputs_.flush();
    } catch (...) {
      failure_ = std::current_exception();
      stop();
    }
  }

  LineReader& input_;
  OutputFiles& outputs_;
  const JudgeSetup& setup_;
  std::vector<std::unique_ptr<Batch>> batches_;
  std::mutex mutex_;
  std::condition_variable work_ready_;
  std::condition_variable job_done_;  // also: a batch handed over, the input ended
  std::condition_variable free_ready_;
  std::vector<Batch*> free_;
  std::deque<Batch*> queued_;   // waiting for a worker
  std::deque<Batch*> ordered_;  // in input order, waiting for the writer
  bool input_done_ = false;
  bool stop_ = false;
  bool writer_waiting_ = false;
  std::exception_ptr failure_;  // the first fault in input order, set by the writer
  std::shared_mutex judging_;   // shared while a worker judges, whole for a record judged again
  std::unique_ptr<Judge> whole_;
};

}  // namespace

void judge_records(LineReader& input, OutputFiles& outputs, const JudgeSetup& setup) {
  if (setup.threads <= 1) {
    judge_serially(input, outputs, setup);
  } else {
    Pipeline(input, outputs, setup).run();
  }
}

}  // namespace tarnaxel
