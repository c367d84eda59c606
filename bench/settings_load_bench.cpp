// Measures one whole settings load (one indexing pass and a lookup per key) on a
// realistic file, with a 4 MiB CSV value, and after millions of lines of
// other keys, and the load's peak heap use.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "heap_count.h"
#include "settings/gateway_settings.h"
#include "settings/scanner.h"

namespace {

// A settings file as the settings writer produces it: every key set, in
// record order, with values of realistic length (about 20 KB in all).
std::string realistic_settings(std::size_t csv_base64_size) {
    std::string file;
    quorbix::GatewaySettings keys;
    int field = 0;
    quorbix::settings_for_each_field(keys, [&](quorbix::Scanner scanner, const char* key, auto&) {
        ++field;
        file.append(key).append("=");
        std::string_view k(key);
        if (k == "QUORBIX_CSV") {
            file.append("\"");
            std::string csv = "UmVnaXN0ZXIsQWRkcmVzcyxUeXBlLFNjYWxlCg==";
            while (file.size() < csv_base64_size + 1024) {
                file.append(csv);
            }
            file.append("\"");
        } else if (k == "QUORBIX_CA" || k == "QUORBIX_LOCALCERT" || k == "QUORBIX_LOCALKEY") {
            file.append(2400, 'Q');
        } else if (k.find("SCRIPT") != std::string_view::npos) {
            file.append(600, 'I');
        } else if (scanner == quorbix::Scanner::kLargeText) {
            file.append("\"devices/gw-").append(std::to_string(field)).append("/messages\"");
        } else if (scanner == quorbix::Scanner::kText) {
            file.append("value-").append(std::to_string(field));
        } else {
            file.append(std::to_string(field * 7));
        }
        file.append("\n");
    });
    return file;
}

std::string write_temp(const std::string& contents) {
    char path[] = "/tmp/quorbix-bench-XXXXXX";
    int fd = ::mkstemp(path);
    if (fd < 0 ||
        ::write(fd, contents.data(), contents.size()) != static_cast<ssize_t>(contents.size())) {
        std::abort();
    }
    ::close(fd);
    return path;
}

// windowed: the file is read through the window, as one too large for memory.
void load_benchmark(benchmark::State& state, const std::string& contents, bool windowed = false) {
    const std::string path = write_temp(contents);
    std::size_t peak = 0;
    for (auto _ : state) {
        const std::size_t base = quorbix::bench::heap_peak_reset();
        {
            quorbix::GatewaySettings s;
            const std::size_t limit = quorbix::settings_set_in_memory_limit(
                windowed ? 0 : quorbix::kDefaultInMemoryLimit);
            auto stream = quorbix::settings_open_path(path.c_str());
            quorbix::settings_set_in_memory_limit(limit);
            quorbix::settings_load_from(s, stream.get());
            quorbix::settings_close(std::move(stream));
            benchmark::DoNotOptimize(s);
        }
        peak = quorbix::bench::heap_peak() - base;
    }
    ::unlink(path.c_str());
    state.counters["file_bytes"] = static_cast<double>(contents.size());
    state.counters["peak_heap_bytes"] = static_cast<double>(peak);
    state.counters["peak_over_file"] =
        static_cast<double>(peak) / static_cast<double>(contents.size());
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(contents.size()));
}

void BM_LoadRealistic(benchmark::State& state) {
    load_benchmark(state, realistic_settings(0));
}
void BM_LoadWithCsv4MiB(benchmark::State& state) {
    load_benchmark(state, realistic_settings(std::size_t{4} << 20));
}
// Three million distinct keys that are none of the record's ("k1=", "k2=",
// ...) before the real ones: the index must not grow with them.
std::string after_many_distinct_keys() {
    std::string contents;
    for (int i = 1; i <= 3000000; ++i) {
        contents.append("k").append(std::to_string(i)).append("=\n");
    }
    contents.append(realistic_settings(0));
    return contents;
}
void BM_LoadAfterManyDistinctKeys(benchmark::State& state) {
    load_benchmark(state, after_many_distinct_keys());
}
// The same file read through the 64 KiB window.
void BM_LoadAfterManyDistinctKeysWindowed(benchmark::State& state) {
    load_benchmark(state, after_many_distinct_keys(), true);
}
// The index pass alone over three million lines of other keys: a key absent
// from the file makes the pass read to the end. The lines begin with a byte
// no key begins with ("k1="), or with the keys' own prefix
// ("QUORBIX_X1="), which only the key's hash tells from a key of the record.
void index_pass_benchmark(benchmark::State& state, const char* prefix) {
    std::string contents;
    for (int i = 1; i <= 3000000; ++i) {
        contents.append(prefix).append(std::to_string(i)).append("=\n");
    }
    const std::string path = write_temp(contents);
    for (auto _ : state) {
        state.PauseTiming();
        auto stream = quorbix::settings_open_path(path.c_str());
        state.ResumeTiming();
        benchmark::DoNotOptimize(quorbix::settings_key_line(stream.get(), "QUORBIX_ENABLE"));
        state.PauseTiming();
        stream.reset();
        state.ResumeTiming();
    }
    ::unlink(path.c_str());
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(contents.size()));
}
void BM_IndexPassOverOtherKeys(benchmark::State& state) {
    index_pass_benchmark(state, "k");
}
void BM_IndexPassOverOtherPrefixedKeys(benchmark::State& state) {
    index_pass_benchmark(state, "QUORBIX_X");
}
void BM_LoadWithCsv4MiBWindowed(benchmark::State& state) {
    load_benchmark(state, realistic_settings(std::size_t{4} << 20), true);
}

BENCHMARK(BM_LoadRealistic)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LoadWithCsv4MiB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadAfterManyDistinctKeys)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadWithCsv4MiBWindowed)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadAfterManyDistinctKeysWindowed)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IndexPassOverOtherKeys)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IndexPassOverOtherPrefixedKeys)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
