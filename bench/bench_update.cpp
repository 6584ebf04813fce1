// Loading a large update file compared with simply reading the file.
//
// A 64 MiB update file of eight 8 MiB portions is written to a temporary
// file once. Two timed benchmarks read it: plainly into one vector of the
// file's size, and through Update. The growth of peak resident memory for
// one read of each kind is measured in a fresh process (so that nothing the
// allocator keeps from earlier runs hides it) and reported as a multiple of
// the file size. A plain SysEx file of the same size is loaded as well. At
// the end the ratios are printed.
#include "update.h"

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kPortionCount = 8;
constexpr uint32_t kPortionSize = 8u << 20;
const char kPeakFlag[] = "--kestrane-peak=";

std::string filePath;
std::string sysExPath;
uint64_t fileSize = 0;
double plainPeakRatio = 0;
double loadPeakRatio = 0;

void PutU16(std::ofstream& out, uint16_t value) {
    const char bytes[2] = {static_cast<char>(value & 0xFF), static_cast<char>(value >> 8)};
    out.write(bytes, sizeof bytes);
}

void PutU32(std::ofstream& out, uint32_t value) {
    const char bytes[4] = {static_cast<char>(value & 0xFF), static_cast<char>(value >> 8 & 0xFF),
                           static_cast<char>(value >> 16 & 0xFF),
                           static_cast<char>(value >> 24 & 0xFF)};
    out.write(bytes, sizeof bytes);
}

void PutText(std::ofstream& out, const std::string& text) {
    PutU32(out, static_cast<uint32_t>(text.size()));
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
}

void WriteUpdateFile(const std::string& path) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write("VeskUpdateFile", 14);
    PutU16(out, 4);
    PutText(out, "Bench Device");
    PutU16(out, 1);
    PutU16(out, 0);
    PutText(out, "Benchmark update\\nwith two lines");
    for (int i = 0; i < 3; ++i)
        PutU16(out, 0);
    PutU32(out, 3);
    PutText(out, "win:bench:ideal:1024:name:Bench Device");
    std::vector<char> data(kPortionSize);
    for (uint32_t portion = 0; portion < kPortionCount; ++portion) {
        for (size_t i = 0; i < data.size(); ++i)
            data[i] = static_cast<char>((i * 31 + portion) & 0x7F);
        data.front() = static_cast<char>(0xF0);
        data.back() = static_cast<char>(0xF7);
        PutU32(out, 1);
        PutU32(out, kPortionSize);
        out.write(data.data(), static_cast<std::streamsize>(data.size()));
        PutU32(out, 100);
    }
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

// A plain SysEx file of the same size whose only end marker is its last byte,
// so that telling its kind means looking at every byte.
void WriteSysExFile(const std::string& path, uint64_t size) {
    std::vector<char> data(static_cast<size_t>(size));
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>(i & 0x7F);
    data.front() = static_cast<char>(0xF0);
    data.back() = static_cast<char>(0xF7);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(data.data(), static_cast<std::streamsize>(data.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

std::vector<char> ReadPlainly(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    in.seekg(0, std::ios::end);
    std::vector<char> bytes(static_cast<size_t>(in.tellg()));
    in.seekg(0, std::ios::beg);
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return bytes;
}

Update LoadUpdate(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Update(in);
}

// A "Vm...:  1234 kB" line of /proc/self/status, in bytes.
uint64_t StatusBytes(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.compare(0, std::strlen(field), field) == 0)
            return std::strtoull(line.c_str() + std::strlen(field), nullptr, 10) * 1024;
    }
    return 0;
}

// In the fresh process: one read of the given kind; prints how far the peak
// resident memory grew beyond what the process held before.
int MeasurePeak(const std::string& kind, const std::string& path) {
    uint64_t before = StatusBytes("VmRSS:");
    size_t held = 0;
    if (kind == "plain")
        held = ReadPlainly(path).size();
    else
        held = LoadUpdate(path).GetTotalSysExSize();
    uint64_t peak = StatusBytes("VmHWM:");
    std::printf("%llu %zu\n", static_cast<unsigned long long>(peak - before), held);
    return 0;
}

double PeakRatio(const std::string& self, const std::string& kind) {
    std::string command = "'" + self + "' " + kPeakFlag + kind + " '" + filePath + "'";
    FILE* child = popen(command.c_str(), "r");
    unsigned long long growth = 0;
    size_t held = 0;
    if (child == nullptr || std::fscanf(child, "%llu %zu", &growth, &held) != 2)
        throw std::runtime_error("peak measurement failed: " + command);
    pclose(child);
    return static_cast<double>(growth) / static_cast<double>(fileSize);
}

void BM_ReadFilePlainly(benchmark::State& state) {
    for (auto _ : state) {
        std::vector<char> bytes = ReadPlainly(filePath);
        benchmark::DoNotOptimize(bytes.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * fileSize));
    state.counters["peak_x_file"] = plainPeakRatio;
}
BENCHMARK(BM_ReadFilePlainly)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_LoadUpdate(benchmark::State& state) {
    for (auto _ : state) {
        Update update = LoadUpdate(filePath);
        if (update.GetPortionCount() != kPortionCount)
            state.SkipWithError("update did not load whole");
        benchmark::DoNotOptimize(&update);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * fileSize));
    state.counters["peak_x_file"] = loadPeakRatio;
}
BENCHMARK(BM_LoadUpdate)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_LoadSysExFile(benchmark::State& state) {
    for (auto _ : state) {
        Update update = LoadUpdate(sysExPath);
        if (!update.IsSysEx())
            state.SkipWithError("not read as a SysEx file");
        benchmark::DoNotOptimize(&update);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * fileSize));
}
BENCHMARK(BM_LoadSysExFile)->Unit(benchmark::kMillisecond)->UseRealTime();

// Keeps the real time per iteration of every run, for the ratio at the end.
class RecordingReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.error_occurred)
                continue;
            if (run.run_type == Run::RT_Iteration)
                times[run.run_name.function_name].push_back(run.GetAdjustedRealTime());
            else if (run.aggregate_name == "median")
                medians[run.run_name.function_name] = run.GetAdjustedRealTime();
        }
        ConsoleReporter::ReportRuns(runs);
    }
    double Median(const std::string& name) {
        if (medians.count(name) != 0)
            return medians[name];
        std::vector<double>& values = times[name];
        if (values.empty())
            return 0;
        std::sort(values.begin(), values.end());
        return values[values.size() / 2];
    }

private:
    std::map<std::string, std::vector<double>> times;
    std::map<std::string, double> medians;
};

std::string SelfPath() {
    std::vector<char> buffer(4096);
    ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
    if (length <= 0)
        throw std::runtime_error("cannot find this program's path");
    return std::string(buffer.data(), static_cast<size_t>(length));
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strncmp(argv[1], kPeakFlag, std::strlen(kPeakFlag)) == 0)
        return MeasurePeak(argv[1] + std::strlen(kPeakFlag), argv[2]);

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;

    filePath = (std::filesystem::temp_directory_path() /
                ("kestrane-bench-" + std::to_string(getpid()) + ".upd"))
                   .string();
    sysExPath = filePath.substr(0, filePath.size() - 4) + ".syx";
    WriteUpdateFile(filePath);
    fileSize = std::filesystem::file_size(filePath);
    WriteSysExFile(sysExPath, fileSize);
    std::string self = SelfPath();
    plainPeakRatio = PeakRatio(self, "plain");
    loadPeakRatio = PeakRatio(self, "load");

    RecordingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    std::filesystem::remove(filePath);
    std::filesystem::remove(sysExPath);

    double plain = reporter.Median("BM_ReadFilePlainly");
    double load = reporter.Median("BM_LoadUpdate");
    double sysEx = reporter.Median("BM_LoadSysExFile");
    std::printf("\nUpdate file: %.1f MiB in %u portions\n",
                static_cast<double>(fileSize) / (1 << 20), kPortionCount);
    if (plain > 0 && load > 0)
        std::printf("Load time / plain read time: %.2f (target at most 1.50); SysEx file of the "
                    "same size: %.2f\n",
                    load / plain, sysEx / plain);
    std::printf("Peak memory growth / file size: load %.3f (target at most 1.25), plain read "
                "%.3f\n",
                loadPeakRatio, plainPeakRatio);
    return 0;
}
