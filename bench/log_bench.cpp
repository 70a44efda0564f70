// What a log write costs: with the log off (a flag test), and with the log open while the
// writer thread drains it into a real file; and how many lines a second reach the file.
// Also counts heap allocations made by writes of ordinary lines (there should be none).
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <string>

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

// Lines that reach the file: writes, then a close that writes the rest and syncs the disk.
void BM_LogSustainedToFile(benchmark::State& state) {
    std::wstring folder = BenchFolder();
    SetLogEnabled(true);
    for (auto _ : state) {
        LogOpen(L"sustained", folder.c_str());
        for (int i = 0; i < 100000; ++i) {
            LogWrite(L"Sending block of %d bytes [%d / %d]", 262144, i, 1000000);
        }
        LogClose(platform::kInfinite);
    }
    state.counters["lines_per_second"] = benchmark::Counter(
        100000.0 * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    SetLogEnabled(false);
    std::filesystem::remove(std::filesystem::path(folder) / "sustained.log");
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

BENCHMARK_MAIN();
