#pragma once

#include <algorithm>
#include <benchmark/benchmark.h>
#include <map>
#include <string>
#include <vector>

namespace sw::bench {

// Prints the usual table and keeps, per benchmark, the fastest repetition's CPU time, so that a
// program can print ratios of benchmarks measured side by side in one run.
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
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> Times;
};

} // namespace sw::bench
