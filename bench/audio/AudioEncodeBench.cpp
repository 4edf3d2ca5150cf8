// Encoding one 2000-sample capture buffer at every format the chooser offers, through the capture's
// own buffer handling (unprepare, encode, hand to the sink, queue again), side by side with a plain
// copy of the same bytes. Reports allocations per buffer, which must be 0.

#include "audio/AudioCapture.h"
#include "audio/AudioFormatChoice.h"
#include "config/Configuration.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <atomic>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <new>
#include <string>
#include <vector>

namespace {

std::atomic<long> gAllocations{0};

} // namespace

void* operator new(std::size_t size) {
    gAllocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size ? size : 1)) {
        return p;
    }
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}

namespace sw {
namespace {

class TNullSink : public TAudioSink {
public:
    void SendAudio(const uint8_t* buffer, int count) override {
        benchmark::DoNotOptimize(buffer);
        Bytes += count;
    }
    long Bytes = 0;
};

// Accepts buffers without recording anything, so only the capture's own work is measured.
class TIdleWaveIn : public TWaveIn {
public:
    uint32_t PrepareHeader(TWaveHdr* h) override {
        h->dwFlags |= WHDR_PREPARED;
        return 0;
    }
    uint32_t UnprepareHeader(TWaveHdr* h) override {
        h->dwFlags &= ~WHDR_PREPARED;
        return 0;
    }
    uint32_t AddBuffer(TWaveHdr* h) override {
        h->dwFlags |= WHDR_INQUEUE;
        return 0;
    }
    uint32_t Start() override { return 0; }
    uint32_t Stop() override { return 0; }
    uint32_t Reset() override { return 0; }
    uint32_t Close() override { return 0; }
};

constexpr int kSamples = 2000;

struct TBenchEnvironment {
    QTemporaryDir Dir;
    std::unique_ptr<TConfiguration> Config;
    TBenchEnvironment() {
        Config = std::make_unique<TConfiguration>((Dir.path() + QStringLiteral("/bench.ini")).toStdString());
        Config->Reload();
        Config->Audio().SetEnabled(true);
    }
};

TBenchEnvironment& Environment() {
    static TBenchEnvironment environment;
    return environment;
}

void BM_ProcessWaveBuffer(benchmark::State& state) {
    const TWaveFormatEx format = CandidateFormats()[static_cast<size_t>(state.range(0))];
    TAudioConfiguration& settings = Environment().Config->Audio();
    settings.SetFrequency(static_cast<int32_t>(format.nSamplesPerSec));
    settings.SetBits(format.wBitsPerSample);
    settings.SetChannels(format.nChannels);
    settings.SetFrameSize(kSamples * format.wBitsPerSample / 16);
    TNullSink sink;
    TAudioCapture capture(settings, nullptr, sink);
    capture.SetOpener([](std::unique_ptr<TWaveIn>* device, int, const TWaveFormatEx*, QObject*, uint32_t) {
        *device = std::make_unique<TIdleWaveIn>();
        return uint32_t{0};
    });
    capture.InitializeAudio();
    if (!capture.StartAudioCapture()) {
        state.SkipWithError("start failed");
        return;
    }
    TWaveHdr& header = const_cast<TWaveHdr&>(capture.WaveHeaders()[0]);
    std::srand(1);
    for (uint32_t i = 0; i < header.dwBufferLength; ++i) {
        header.lpData[i] = static_cast<uint8_t>(std::rand());
    }
    const long before = gAllocations.load();
    for (auto _ : state) {
        header.dwFlags &= ~WHDR_INQUEUE;
        header.dwBytesRecorded = header.dwBufferLength;
        capture.ProcessWaveBuffer(header);
        capture.QueueWaveBuffer(header);
    }
    state.counters["allocs_per_buffer"] =
        static_cast<double>(gAllocations.load() - before) / static_cast<double>(state.iterations());
    state.counters["out_bytes"] = static_cast<double>(sink.Bytes) / static_cast<double>(state.iterations());
    state.SetLabel(WaveFormatName(format));
    capture.StopAudioCapture();
}

void BM_CopyBuffer(benchmark::State& state) {
    std::vector<uint8_t> from(kSamples * 2, 0x55);
    std::vector<uint8_t> to(kSamples * 2);
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), from.size());
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
    }
    state.SetLabel("memcpy of 4000 bytes");
}

BENCHMARK(BM_CopyBuffer);
BENCHMARK(BM_ProcessWaveBuffer)->DenseRange(0, 23);

// Keeps each run so the ratios can be printed at the end.
class TRatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            Results.push_back({run.report_label, run.GetAdjustedCPUTime(),
                               run.counters.count("allocs_per_buffer")
                                   ? double(run.counters.at("allocs_per_buffer"))
                                   : 0.0});
        }
        ConsoleReporter::ReportRuns(runs);
    }
    struct TResult {
        std::string Label;
        double TimeNs;
        double Allocations;
    };
    std::vector<TResult> Results;
};

} // namespace
} // namespace sw

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    sw::TRatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    if (reporter.Results.empty()) {
        return 0;
    }
    const double copyNs = reporter.Results.front().TimeNs;
    std::printf("\n%-30s %12s %14s %10s\n", "format", "cpu ns/buffer", "x memcpy", "allocs");
    double worst = 0.0;
    for (size_t i = 1; i < reporter.Results.size(); ++i) {
        const auto& r = reporter.Results[i];
        std::printf("%-30s %12.0f %14.2f %10.2f\n", r.Label.c_str(), r.TimeNs, r.TimeNs / copyNs,
                    r.Allocations);
        worst = std::max(worst, r.TimeNs);
    }
    // One buffer of the slowest format against the quarter second of sound the default buffer holds.
    std::printf("\nslowest buffer %.0f ns = %.6f of a 250 ms buffer period\n", worst, worst / 250e6);
    benchmark::Shutdown();
    return 0;
}
