#pragma once

#include <algorithm>
#include <benchmark/benchmark.h>
#include <map>
#include <string>
#include <vector>

namespace sw::bench {

// Prints the usual table and keeps, per benchmark, the fastest repetition's CPU time, so that a
// program can print ratios of benchmarks measured side by side in one run, and every repetition's
// time in the order run, so that a program can pair the repetitions of two benchmarks.
class TRatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            // The fastest repetition: the machine is shared, and other work only ever adds time.
            if (!run.error_occurred && run.run_type == Run::RT_Iteration) {
                const double time = run.GetAdjustedCPUTime();
                auto [entry, added] = Times.emplace(run.run_name.function_name, time);
                if (!added) {
                    entry->second = std::min(entry->second, time);
                }
                Repetitions[run.run_name.function_name].push_back(time);
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> Times;
    std::map<std::string, std::vector<double>> Repetitions;
};

// The ratios a[i] / b[i] of two benchmarks' repetitions, sorted; with interleaved repetitions each
// pair ran at nearly the same time, so a busy moment of the machine weighs on both.
inline std::vector<double> PairedRatios(const std::vector<double>& a, const std::vector<double>& b) {
    std::vector<double> ratios;
    for (size_t i = 0; i < a.size() && i < b.size(); ++i) {
        if (b[i] > 0) {
            ratios.push_back(a[i] / b[i]);
        }
    }
    std::sort(ratios.begin(), ratios.end());
    return ratios;
}

// The p-th quantile (0 to 1) of sorted values by the nearest rank; 0 when there are none.
inline double Quantile(const std::vector<double>& sorted, double p) {
    if (sorted.empty()) {
        return 0;
    }
    const auto rank = static_cast<size_t>(p * static_cast<double>(sorted.size() - 1) + 0.5);
    return sorted[std::min(rank, sorted.size() - 1)];
}

} // namespace sw::bench
