// The checker's speed: one settings file with a 4 MiB CSV value, and a fleet
// of 1000 typical files, each checked and its report formed.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "check/file_check.h"
#include "check/report.h"

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
    quorbix::CheckOptions options;
    options.now = 1796083200;
    const quorbix::FileCheck check = quorbix::check_settings(settings, options);
    return quorbix::render_findings("settings", settings, check, quorbix::ReportStyle{}).size();
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

BENCHMARK(BM_CheckFileWithCsv4MiB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CheckFleetOf1000)->Unit(benchmark::kMillisecond);

}  // namespace
