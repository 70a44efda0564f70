// What a log write costs: with the log off (a flag test), and with the log open while the
// writer thread drains it into a real file; and how many lines a second reach the file.
// Also counts heap allocations made by writes of ordinary lines (there should be none).
// Exits 1 when a benchmark could not measure (the log did not open, lines did not reach the
// file) or none ran, so that a run that prints no figures fails; the figures are never judged.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <new>
#include <string>
#include <vector>

#include "log/log.h"
#include "log/start_keys.h"
#include "platform/types.h"

namespace {

std::atomic<long> g_allocations{0};

std::wstring BenchFolder() {
    auto folder = std::filesystem::temp_directory_path() / "dovrand-log-bench";
    std::filesystem::create_directories(folder);
    return folder.wstring();
}

void BM_LogWriteOff(benchmark::State& state) {
    SetLogEnabled(false);
    for (auto _ : state) {
        LogWrite(L"Sending block of %d bytes [%d / %d]", 262144, 524288, 1000000);
    }
}
BENCHMARK(BM_LogWriteOff);

void BM_LogWriteOpen(benchmark::State& state) {
    SetLogEnabled(true);
    std::wstring folder = BenchFolder();
    if (LogOpen(L"bench", folder.c_str()) != 0) {
        state.SkipWithError("log did not open");
        return;
    }
    long before = g_allocations.load();
    for (auto _ : state) {
        // A typical line of about 60 characters with two arguments.
        LogWrite(L"cSerialPort.Open: Unable to open port %ls. ErrorCode: %d", L"\\\\.\\COM7", 2);
    }
    state.counters["allocations_per_write"] =
        benchmark::Counter(static_cast<double>(g_allocations.load() - before) /
                           static_cast<double>(state.iterations()));
    LogClose(platform::kInfinite);
    SetLogEnabled(false);
    std::filesystem::remove(std::filesystem::path(folder) / "bench.log");
}
BENCHMARK(BM_LogWriteOpen)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_LogWriteOpen)->Threads(2)->Repetitions(3)->ReportAggregatesOnly(true);

// Line ends in a UTF-16LE file: the code units 0x000A.
long LineEnds(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    long ends = 0;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        if (bytes[i] == '\n' && bytes[i + 1] == '\0') {
            ++ends;
        }
    }
    return ends;
}

// Lines that reach the file: writes, then a close that writes the rest and syncs the disk.
void BM_LogSustainedToFile(benchmark::State& state) {
    constexpr long kLines = 100000;
    std::wstring folder = BenchFolder();
    std::filesystem::path file = std::filesystem::path(folder) / "sustained.log";
    std::filesystem::remove(file);
    SetLogEnabled(true);
    for (auto _ : state) {
        if (LogOpen(L"sustained", folder.c_str()) != 0) {
            state.SkipWithError("log did not open");
            break;
        }
        for (long i = 0; i < kLines; ++i) {
            LogWrite(L"Sending block of %d bytes [%d / %d]", 262144, static_cast<int>(i), 1000000);
        }
        LogClose(platform::kInfinite);
    }
    SetLogEnabled(false);
    // Every line written must be in the file, or the rate counts lines that were lost.
    long want = kLines * static_cast<long>(state.iterations());
    long got = LineEnds(file);
    std::filesystem::remove(file);
    if (!state.error_occurred() && got < want) {
        std::fprintf(stderr, "log_bench: %ld of %ld lines reached the file\n", got, want);
        state.SkipWithError("lines did not reach the file");
        return;
    }
    state.counters["lines_per_second"] =
        benchmark::Counter(static_cast<double>(want), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_LogSustainedToFile)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

void* operator new(std::size_t size) {
    ++g_allocations;
    if (void* p = std::malloc(size == 0 ? 1 : size)) {
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

namespace {

// The console's report, remembering whether a benchmark reported an error.
class Reporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            failed_ = failed_ || run.error_occurred;
        }
        ConsoleReporter::ReportRuns(runs);
    }
    bool failed() const { return failed_; }

  private:
    bool failed_ = false;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    Reporter reporter;
    size_t ran = benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    if (ran == 0) {
        std::fprintf(stderr, "log_bench: no benchmark ran\n");
        return 1;
    }
    if (reporter.failed()) {
        std::fprintf(stderr, "log_bench: a benchmark could not measure (ERROR OCCURRED above)\n");
        return 1;
    }
    return 0;
}
