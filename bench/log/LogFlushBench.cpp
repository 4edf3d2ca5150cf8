// Main-thread cost of bringing the log file up to date when the log is full of audio hex dumps
// (10000 lines of about 5 KB): waiting for the write (as every save did before the writer thread)
// against handing the lines to the writer thread.
#include "config/Configuration.h"
#include "log/EventLog.h"
#include "log/LogFormat.h"

#include <benchmark/benchmark.h>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

struct TFullLog {
    TFullLog() : Folder(MakeFolder()), Settings(Folder + "/bench.ini"), Log(Folder + "/bench.log") {
        Settings.Reload();
        std::vector<uint8_t> block(1000);
        for (size_t i = 0; i < block.size(); ++i) {
            block[i] = static_cast<uint8_t>(i * 7);
        }
        sw::TAMLog entry;
        entry.Level = sw::llInformation;
        entry.Message = sw::lmAudioSocketWrite;
        entry.Detail = "127.0.0.1";
        entry.Values = sw::HexDumpValues(block.data(), block.size());
        for (size_t i = 0; i < sw::TEventLog::kMaxLines; ++i) {
            entry.Time = sw::Now();
            Log.WriteLogEntry(entry, Settings);
        }
        Entry = entry;
    }
    ~TFullLog() {
        std::string command = "rm -rf '" + Folder + "'";
        [[maybe_unused]] int rc = std::system(command.c_str());
    }
    static std::string MakeFolder() {
        std::string pattern = "/tmp/sw-bench-XXXXXX";
        return ::mkdtemp(pattern.data());
    }
    std::string Folder;
    sw::TLogConfiguration Settings;
    sw::TEventLog Log;
    sw::TAMLog Entry;
};

TFullLog& FullLog() {
    static TFullLog log;
    return log;
}

void BM_RecordAndSaveInPlace(benchmark::State& state) {
    TFullLog& log = FullLog();
    for (auto _ : state) {
        log.Log.WriteLogEntry(log.Entry, log.Settings);
        log.Log.SaveLog();
    }
    state.counters["file_MB"] = 10000.0 * static_cast<double>(log.Log.LogLines().back().size() + 2) / 1e6;
}

void BM_RecordAndHandToWriter(benchmark::State& state) {
    TFullLog& log = FullLog();
    for (auto _ : state) {
        log.Log.WriteLogEntry(log.Entry, log.Settings);
        log.Log.SaveLogAsync();
    }
    log.Log.SaveLog(); // after the timed loop: lets the writer finish before the next benchmark
}

// Wall time is what matters: it is how long the main thread cannot serve frames and viewers.
BENCHMARK(BM_RecordAndSaveInPlace)->Unit(benchmark::kMillisecond)->Iterations(10)->UseRealTime();
BENCHMARK(BM_RecordAndHandToWriter)->Unit(benchmark::kMillisecond)->Iterations(10)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
