// The times a benchmark program's runs reported, kept so that its main can
// print the ratios its targets are about once every run is done.
#pragma once

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

namespace tivel::bench {

class RunTimes : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const auto& r : runs) {
      real_[r.benchmark_name()] = r.GetAdjustedRealTime();
      cpu_[r.benchmark_name()] = r.GetAdjustedCPUTime();
      for (const auto& [key, counter] : r.counters) counters_[key][r.benchmark_name()] = counter.value;
    }
    ConsoleReporter::ReportRuns(runs);
  }

  // The wall time of the run `name` (its arguments after "/" may follow, so
  // "users_100" never reads "users_100000"); the mean when the runs were
  // repeated; 0 when no such run reported.
  double real(const std::string& name) const { return find(real_, name); }
  // The same in CPU time.
  double cpu(const std::string& name) const { return find(cpu_, name); }
  // The user counter `key` of the run `name`, found as real() finds it.
  double counter(const std::string& name, const std::string& key) const {
    auto it = counters_.find(key);
    return it == counters_.end() ? 0 : find(it->second, name);
  }

 private:
  static double find(const std::map<std::string, double>& times, const std::string& name) {
    double found = 0;
    for (const auto& [key, value] : times) {
      if (key.compare(0, name.size(), name) != 0) continue;
      if (key.size() > name.size() && key[name.size()] != '/' && key[name.size()] != '_') continue;
      if (key.size() >= 5 && key.compare(key.size() - 5, 5, "_mean") == 0) return value;
      if (key.find("_stddev") == std::string::npos && key.find("_median") == std::string::npos &&
          key.find("_cv") == std::string::npos)
        found = value;
    }
    return found;
  }

  std::map<std::string, double> real_, cpu_;
  std::map<std::string, std::map<std::string, double>> counters_;
};

// Runs every registered benchmark, reporting to `times`.
inline void runBenchmarks(int& argc, char** argv, RunTimes& times) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks(&times);
}

}  // namespace tivel::bench
