#include "check/rules/key_suggestions.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <vector>

#include "check/rules/fields.h"
#include "check/text/text.h"

namespace quorbix {

namespace {

constexpr SlotTrap kSlotTraps[] = {
    {"QUORBIX_CUSTOM1_EN", "QUORBIX_CUSTOM_EN", "slot 1 of the custom fields has no number"},
    {"QUORBIX_CUSTOM1_VALUE", "QUORBIX_CUSTOM_VALUE", "slot 1 of the custom fields has no number"},
    {"QUORBIX_PORT3_BAUDRATE", "QUORBIX_UPORT_BAUDRATE", "serial port 3 is the \"UPORT\""},
    {"QUORBIX_PORT3_DATABITS", "QUORBIX_UPORT_DATABITS", "serial port 3 is the \"UPORT\""},
    {"QUORBIX_PORT3_PARITY", "QUORBIX_UPORT_PARITY", "serial port 3 is the \"UPORT\""},
    {"QUORBIX_PORT3_STOPBITS", "QUORBIX_UPORT_STOPBITS", "serial port 3 is the \"UPORT\""},
};

}  // namespace

const SlotTrap* slot_trap(std::string_view upper_key) {
    const auto* trap =
        std::find_if(std::begin(kSlotTraps), std::end(kSlotTraps),
                     [upper_key](const SlotTrap& t) { return upper_key == t.written; });
    return trap == std::end(kSlotTraps) ? nullptr : trap;
}

std::string nearest_key(std::string_view key, bool* unique) {
    bool tie = false;
    if (unique != nullptr) {
        *unique = true;
    }
    if (key.size() > kSuggestedKeyLength) {
        return {};
    }
    const std::string prefixed = "QUORBIX_" + std::string(key);
    if (settings_key_position(prefixed) >= 0) {
        return upper(prefixed);
    }
    const std::size_t limit = key.size() >= 12 ? 3 : 1;
    const std::string wanted = upper(key);
    std::size_t best = limit + 1;
    std::string found;
    for (const FieldInfo& f : field_table()) {
        const std::size_t d = key_distance(wanted, f.key, limit);
        if (d < best) {
            best = d;
            found = f.key;
            tie = false;
        } else if (d == best && d <= limit) {
            tie = true;
        }
    }
    if (unique != nullptr) {
        *unique = !tie;
    }
    return found;
}

namespace {

struct Synonym {
    std::string_view written;
    // cppcheck-suppress unusedStructMember ; read through a pointer from find_if
    std::string_view meant;
};

// Words people write for the launcher's own.
constexpr Synonym kSynonyms[] = {
    {"PASSWORD", "PWD"}, {"PASSWD", "PWD"},  {"PASS", "PWD"},           {"USER", "USR"},
    {"USERNAME", "USR"}, {"HOST", "ADDR"},   {"HOSTNAME", "ADDR"},      {"ADDRESS", "ADDR"},
    {"SERVER", "ADDR"},  {"BROKER", "ADDR"}, {"CLIENTID", "CLIENT_ID"}, {"ENABLED", "ENABLE"},
};

std::vector<std::string_view> words_of(std::string_view key) {
    std::vector<std::string_view> words;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= key.size(); ++i) {
        if (i == key.size() || key[i] == '_') {
            words.push_back(key.substr(start, i - start));
            start = i + 1;
        }
    }
    return words;
}

std::string joined_words(const std::vector<std::string_view>& words) {
    std::string out;
    for (const std::string_view w : words) {
        out += (out.empty() ? "" : "_") + std::string(w);
    }
    return out;
}

}  // namespace

std::size_t key_distance(std::string_view x, std::string_view y, std::size_t limit) {
    if ((x.size() > y.size() ? x.size() - y.size() : y.size() - x.size()) > limit) {
        return limit + 1;
    }
    std::array<std::size_t, kSuggestedKeyLength + 1> prev2{};
    std::array<std::size_t, kSuggestedKeyLength + 1> prev{};
    std::array<std::size_t, kSuggestedKeyLength + 1> cur{};
    for (std::size_t j = 0; j <= y.size(); ++j) {
        prev[j] = j;
    }
    for (std::size_t i = 1; i <= x.size(); ++i) {
        cur[0] = i;
        std::size_t row_min = cur[0];
        for (std::size_t j = 1; j <= y.size(); ++j) {
            const std::size_t cost = x[i - 1] == y[j - 1] ? 0 : 1;
            cur[j] = std::min({prev[j] + 1, cur[j - 1] + 1, prev[j - 1] + cost});
            if (i > 1 && j > 1 && x[i - 1] == y[j - 2] && x[i - 2] == y[j - 1]) {
                cur[j] = std::min(cur[j], prev2[j - 2] + 1);
            }
            row_min = std::min(row_min, cur[j]);
        }
        if (row_min > limit) {
            return limit + 1;
        }
        prev2 = prev;
        prev = cur;
    }
    return std::min(prev[y.size()], limit + 1);
}

std::string synonym_key(std::string_view key) {
    if (key.size() > 64) {
        return {};
    }
    const std::string name = upper(key);
    std::vector<std::string_view> words = words_of(name);
    bool replaced = false;
    for (std::string_view& w : words) {
        const auto* s = std::find_if(std::begin(kSynonyms), std::end(kSynonyms),
                                     [w](const Synonym& x) { return x.written == w; });
        if (s != std::end(kSynonyms)) {
            w = s->meant;
            replaced = true;
        }
    }
    if (!words.empty() && words.front() != "QUORBIX") {
        words.insert(words.begin(), "QUORBIX");
    }
    // The same words with MQTT_ left out, or put in after QUORBIX_.
    std::vector<std::string> candidates{joined_words(words)};
    std::vector<std::string_view> other = words;
    if (other.size() > 2 && other[1] == "MQTT") {
        other.erase(other.begin() + 1);
    } else {
        other.insert(other.begin() + 1, "MQTT");
    }
    candidates.push_back(joined_words(other));
    std::string found;
    for (const std::string& c : candidates) {
        if (settings_key_position(c) >= 0 && c != name && c != found) {
            if (!found.empty()) {
                return {};
            }
            found = c;
        }
    }
    // A key that only gains its prefix or loses MQTT_ is the misspelling
    // search's to name; a synonym is a word replaced.
    return replaced ? found : std::string();
}

}  // namespace quorbix
