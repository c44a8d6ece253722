#pragma once
// Runs the registered benchmarks with the console reporter while keeping
// each run's time per iteration, so a benchmark's main can print ratios
// measured side by side as `name: value` lines.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>

namespace kv::bench {

class CapturingReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const auto& r : runs) {
      // Aggregates of repeated runs come under their own names (..._median).
      if (r.error_occurred) continue;
      // Nanoseconds per iteration, whatever unit the console shows.
      ns_[r.benchmark_name()] = r.GetAdjustedRealTime() *
                                 (r.time_unit == benchmark::kMicrosecond   ? 1e3
                                  : r.time_unit == benchmark::kMillisecond ? 1e6
                                  : r.time_unit == benchmark::kSecond      ? 1e9
                                                                           : 1.0);
      counters_[r.benchmark_name()] = r.counters;
    }
    ConsoleReporter::ReportRuns(runs);
  }
  double Ns(const std::string& name) const {
    auto it = ns_.find(name);
    return it == ns_.end() ? 0.0 : it->second;
  }
  double Counter(const std::string& name, const std::string& counter) const {
    auto it = counters_.find(name);
    if (it == counters_.end()) return 0.0;
    auto c = it->second.find(counter);
    return c == it->second.end() ? 0.0 : static_cast<double>(c->second);
  }

 private:
  std::map<std::string, double> ns_;
  std::map<std::string, benchmark::UserCounters> counters_;
};

inline void Figure(const char* name, double value) { std::printf("%s: %.3f\n", name, value); }

// Runs every registered benchmark into `reporter`, so the caller can print
// its figures afterwards.
inline void RunAll(int* argc, char** argv, CapturingReporter& reporter) {
  benchmark::Initialize(argc, argv);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
}

}  // namespace kv::bench
