// The checker's speed: one settings file with a 4 MiB CSV value, and a fleet
// of 1000 typical files, each checked and its report formed; and its peak
// memory on a settings file of 80 MiB.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "check/report/formats.h"
#include "check/rules/analyse.h"
#include "heap_count.h"

namespace {

std::string example_settings() {
    std::ifstream in(QUORBIX_EXAMPLES_DIR "/settings", std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The example file with its CSV value grown to about `csv_size` bytes.
std::string with_csv(const std::string& example, std::size_t csv_size) {
    const std::string chunk = "MSwzLDQwMDAxLDIsZmxvYXQsYm9pbGVyX3RlbXAK";
    std::string csv;
    while (csv.size() < csv_size) {
        csv += chunk;
    }
    const std::size_t at = example.find("QUORBIX_CSV=");
    const std::size_t end = example.find('\n', at);
    if (at == std::string::npos || end == std::string::npos) {
        std::abort();
    }
    return example.substr(0, at) + "QUORBIX_CSV=\"" + csv + "\"" + example.substr(end);
}

std::size_t check_and_report(const std::string& settings) {
    quorbix::AnalysisOptions options;
    options.now = 1796083200;
    options.with_record = false;  // as quorbix-check without --record
    quorbix::ReportedFile file;
    file.name = "settings";
    file.analysis = quorbix::analyse_settings(settings, options);
    file.bytes = settings;
    std::size_t size = 0;
    for (const quorbix::ReportPiece& piece :
         quorbix::make_human_renderer(quorbix::ReportRun{})->file(file)) {
        size += piece.text.size();
    }
    return size;
}

void BM_CheckFileWithCsv4MiB(benchmark::State& state) {
    const std::string settings = with_csv(example_settings(), std::size_t{4} << 20);
    for (auto _ : state) {
        benchmark::DoNotOptimize(check_and_report(settings));
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(settings.size()));
}

void BM_CheckFleetOf1000(benchmark::State& state) {
    const std::string settings = example_settings();
    for (auto _ : state) {
        for (int i = 0; i < 1000; ++i) {
            benchmark::DoNotOptimize(check_and_report(settings));
        }
    }
}

// The file is held as quorbix-check holds it; the peak counts it and what
// the check and the report add.
void BM_CheckFileOf80MiBPeakMemory(benchmark::State& state) {
    const std::string settings = with_csv(example_settings(), std::size_t{80} << 20);
    std::size_t peak = 0;
    for (auto _ : state) {
        const std::size_t base = quorbix::bench::heap_peak_reset();
        benchmark::DoNotOptimize(check_and_report(settings));
        peak = quorbix::bench::heap_peak() - base + settings.size();
    }
    state.counters["file_bytes"] = static_cast<double>(settings.size());
    state.counters["peak_heap_bytes"] = static_cast<double>(peak);
    state.counters["peak_over_file"] =
        static_cast<double>(peak) / static_cast<double>(settings.size());
}

BENCHMARK(BM_CheckFileWithCsv4MiB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CheckFileOf80MiBPeakMemory)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_CheckFleetOf1000)->Unit(benchmark::kMillisecond);

}  // namespace
