// The indexed lookups against a deliberately plain scanner over fgets, on
// arbitrary file contents: the input's first line is one key, the rest the
// settings file; a key of the record chosen by the file's bytes is a second,
// and a whole load of the record checks every key of the record. Both the
// stream that holds the file whole and the one that reads it through
// its window must agree with the plain scanner on every lookup.
#include <strings.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "fuzz_file.h"
#include "settings/gateway_settings.h"

using namespace quorbix;

namespace {

struct Found {
    bool found = false;
    std::string value;
    std::uint64_t line = 0;
};

// Every fgets piece of at most capacity - 1 bytes is read as a line of its
// own, but only a line's first piece may be a key line; for each key the
// first match wins.
std::vector<Found> plain_lookup_all(const char* path, const std::vector<std::string>& keys,
                                    std::size_t capacity) {
    std::vector<Found> r(keys.size());
    std::FILE* f = std::fopen(path, "rb");
    if (f == nullptr || capacity < 2) {
        if (f != nullptr) {
            std::fclose(f);
        }
        return r;
    }
    std::vector<char> buf(capacity);
    bool first_piece = true;
    std::uint64_t line = 1;
    for (;;) {
        // fgets does not say how long a piece with NUL bytes in it is; the
        // stream's position does.
        const long before = std::ftell(f);
        if (std::fgets(buf.data(), static_cast<int>(capacity), f) == nullptr) {
            break;
        }
        const auto len = static_cast<std::size_t>(std::ftell(f) - before);
        const bool ends_line = len > 0 && buf[len - 1] == '\n';
        char* text = buf.data();
        text[std::strcspn(text, "\r\n")] = '\0';
        if (char* quote = std::strrchr(text, '"')) {
            *quote = '\0';
        }
        char* eq = std::strchr(text, '=');
        if (first_piece && eq != nullptr) {
            *eq = '\0';
            for (std::size_t k = 0; k < keys.size(); ++k) {
                if (!r[k].found && std::strlen(text) == keys[k].size() &&
                    strcasecmp(text, keys[k].c_str()) == 0) {
                    r[k] = {true, eq[1] == '"' ? eq + 2 : eq + 1, line};
                }
            }
        }
        first_piece = ends_line;
        line += ends_line ? 1 : 0;
    }
    std::fclose(f);
    return r;
}

Found plain_lookup(const char* path, const char* key, std::size_t capacity) {
    return plain_lookup_all(path, {key}, capacity)[0];
}

// The record's keys in record order.
const std::vector<std::string>& record_keys() {
    static const std::vector<std::string> keys = [] {
        std::vector<std::string> k;
        GatewaySettings names;
        settings_for_each_field(names,
                                [&](Scanner, const char* key, auto&) { k.emplace_back(key); });
        return k;
    }();
    return keys;
}

// A whole load of the record, which goes to each field by its position,
// gives every field what the plain scanner finds for its key.
void check_load(SettingsStream* stream, const std::vector<Found>& bounded,
                const std::vector<Found>& large) {
    GatewaySettings loaded;
    settings_load_from(loaded, stream);
    std::size_t i = 0;
    settings_for_each_field(loaded, [&](Scanner scanner, const char*, auto& field) {
        if constexpr (std::is_same_v<std::decay_t<decltype(field)>, std::uint32_t>) {
            QUORBIX_FUZZ_CHECK(field == parse_uint32(bounded[i].value));
        } else {
            QUORBIX_FUZZ_CHECK(field ==
                               (scanner == Scanner::kLargeText ? large[i] : bounded[i]).value);
        }
        ++i;
    });
}

void check_key(SettingsStream* stream, const char* path, std::size_t file_size, const char* key) {
    const Found bounded = plain_lookup(path, key, kBoundedLineSize);
    const Found large = plain_lookup(path, key, file_size + 1);
    QUORBIX_FUZZ_CHECK(settings_get_text(stream, key) == bounded.value);
    QUORBIX_FUZZ_CHECK(settings_get_uint(stream, key) == parse_uint32(bounded.value));
    QUORBIX_FUZZ_CHECK(settings_get_large_text(stream, key) == large.value);
    QUORBIX_FUZZ_CHECK(settings_key_line(stream, key).number == bounded.line);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t nl = input.find('\n');
    std::string key(input.substr(0, nl == std::string_view::npos ? input.size() : nl));
    key = key.substr(0, key.find('\0'));  // keys are C strings
    const std::string_view file =
        nl == std::string_view::npos ? std::string_view() : input.substr(nl + 1);

    // A key of the record, picked by the file's bytes, in the letter case of
    // the file where the file spells it.
    std::size_t pick = file.size();
    for (char c : file.substr(0, 64)) {
        pick = pick * 31 + static_cast<unsigned char>(c);
    }
    std::string record_key;
    std::size_t position = 0;
    GatewaySettings names;
    settings_for_each_field(names, [&](Scanner, const char* k, auto&) {
        if (position++ == pick % settings_field_count()) {
            record_key = k;
        }
    });

    const auto* bytes = reinterpret_cast<const std::uint8_t*>(file.data());
    const std::string& path = fuzz::settings_path();
    // What a plain rescan of the file gives for every key of the record.
    settings_close(fuzz::open_as_settings(bytes, file.size()));
    const std::vector<Found> record_bounded =
        plain_lookup_all(path.c_str(), record_keys(), kBoundedLineSize);
    const std::vector<Found> record_large =
        plain_lookup_all(path.c_str(), record_keys(), file.size() + 1);
    for (std::size_t limit : {kDefaultInMemoryLimit, std::size_t{0}}) {
        const std::size_t previous = settings_set_in_memory_limit(limit);
        auto stream = fuzz::open_as_settings(bytes, file.size());
        settings_set_in_memory_limit(previous);
        QUORBIX_FUZZ_CHECK(stream != nullptr);
        QUORBIX_FUZZ_CHECK(settings_holds_whole_file(stream.get()) == (limit != 0 || file.empty()));
        check_key(stream.get(), path.c_str(), file.size(), key.c_str());
        check_key(stream.get(), path.c_str(), file.size(), record_key.c_str());
        check_load(stream.get(), record_bounded, record_large);
        settings_close(std::move(stream));
    }
    return 0;
}
