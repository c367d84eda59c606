// The test side of the rig: the namespace side's report read back into a
// RunResult, and the helpers that cases use to form settings and judge runs.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <cstring>
#include <nlohmann/json.hpp>

#include "rig.h"
#include "rig_internal.h"

#ifndef QUORBIX_TEST_DATA_DIR
#error "QUORBIX_TEST_DATA_DIR must name the shared test data directory"
#endif

namespace quorbix::e2e {

namespace {

std::vector<std::string> split_nul(const std::string& log) {
    std::vector<std::string> items;
    std::size_t start = 0;
    while (start < log.size()) {
        std::size_t end = log.find('\0', start);
        if (end == std::string::npos) {
            end = log.size();
        }
        items.push_back(log.substr(start, end - start));
        start = end + 1;
    }
    return items;
}

std::vector<std::vector<std::string>> parse_calls(const std::string& log) {
    const std::vector<std::string> fields = split_nul(log);
    std::vector<std::vector<std::string>> calls;
    for (std::size_t i = 0; i < fields.size();) {
        std::size_t count = std::strtoul(fields[i].c_str(), nullptr, 10);
        ++i;
        std::vector<std::string> args;
        for (std::size_t k = 0; k < count && i < fields.size(); ++k, ++i) {
            args.push_back(fields[i]);
        }
        calls.push_back(std::move(args));
    }
    return calls;
}

}  // namespace

void put(std::string& out, std::string_view field) {
    std::uint64_t n = field.size();
    out.append(reinterpret_cast<const char*>(&n), sizeof n);
    out.append(field);
}

bool take(std::string_view& in, std::string* field) {
    std::uint64_t n = 0;
    if (in.size() < sizeof n) {
        return false;
    }
    std::memcpy(&n, in.data(), sizeof n);
    in.remove_prefix(sizeof n);
    if (in.size() < n) {
        return false;
    }
    field->assign(in.substr(0, static_cast<std::size_t>(n)));
    in.remove_prefix(static_cast<std::size_t>(n));
    return true;
}

void decode_report(std::string_view data, RunResult& r) {
    std::string_view in = data;
    std::string a;
    while (!in.empty()) {
        char tag = in.front();
        in.remove_prefix(1);
        if (!take(in, &a)) {
            r.rig_error = "the namespace side's report was cut short";
            break;
        }
        switch (tag) {
            case 'N':
                r.no_namespace = a;
                break;
            case 'G':
                r.no_cgroup = a;
                break;
            case 'Q':
                r.daemon_signals = a;
                break;
            case 'X':
                r.rig_error += (r.rig_error.empty() ? "" : "; ") + a;
                break;
            case 'S':
                r.statuses.push_back(std::atoi(a.c_str()));
                break;
            case 'F': {
                std::string kind;  // "1" directory, "2" symbolic link, "0" anything else
                std::string mode;
                std::string content;
                if (!take(in, &kind) || !take(in, &mode) || !take(in, &content)) {
                    r.rig_error = "the namespace side's report was cut short";
                    in = {};
                    break;
                }
                r.files[a] = FileEntry{kind == "1", kind == "2",
                                       static_cast<mode_t>(std::strtoul(mode.c_str(), nullptr, 10)),
                                       std::move(content)};
                break;
            }
            case 'C':
                r.commands = split_nul(a);
                break;
            case 'D':
                r.daemon_calls = parse_calls(a);
                break;
            case 'T':
                r.token_calls = parse_calls(a);
                break;
            case 'O':
                r.stdout_text = a;
                break;
            case 'K':
                r.check_status = std::atoi(a.c_str());
                break;
            case 'J':
                r.check_json = a;
                break;
            case 'L':
                r.log_added = a;
                break;
            case 'E':
                r.stderr_text = a;
                break;
            default:
                break;
        }
    }
}

std::string test_data(const std::string& name) {
    return read_file((std::string(QUORBIX_TEST_DATA_DIR) + "/" + name).c_str());
}

void expect_prediction(const RunResult& r) {
    SCOPED_TRACE("the checker's prediction for the same settings");
    ASSERT_TRUE(r.check_status >= 0 && r.check_status <= 2)
        << "the checker exited " << r.check_status << ":\n"
        << r.check_json;
    const nlohmann::json doc = nlohmann::json::parse(r.check_json, nullptr, false);
    ASSERT_FALSE(doc.is_discarded()) << "the checker's report is no JSON:\n" << r.check_json;
    ASSERT_TRUE(doc.contains("files") && doc["files"].size() == 1) << r.check_json;
    const nlohmann::json& file = doc["files"][0];
    if (file.contains("error")) {
        // No settings the checker could read; it says the launcher takes
        // that as no settings file, which ends at the CSV gate.
        EXPECT_EQ(r.check_status, 2);
        EXPECT_EQ(r.status(), 255) << file["error"];
        EXPECT_EQ(r.log_added, "Can't find CSV config file in Appcapsule\n") << file["error"];
        return;
    }
    const nlohmann::json& outcome = file["outcome"];
    EXPECT_EQ(outcome["exit_status"].get<int>(), r.status()) << outcome["summary"];
    EXPECT_EQ(outcome["log_line"].get<std::string>(), r.log_added) << outcome["summary"];
    if (!outcome["config_written"].get<bool>()) {
        return;
    }
    // A placeholder stands for a token the checker was not given, and bytes
    // that are not UTF-8 reach the report as U+FFFD: neither can be compared.
    const std::string config = file["config"].get<std::string>();
    if (config.find("<token of /opt/quorbix/bin/create-sas>") == std::string::npos &&
        config.find("\xef\xbf\xbd") == std::string::npos) {
        EXPECT_EQ(config, r.file("/tmp/quorbix/config"));
    }
}

bool wrapped_by(const char* program) {
    const char* wrapper = std::getenv("QUORBIX_E2E_WRAPPER");
    return wrapper != nullptr && std::strstr(wrapper, program) != nullptr;
}

bool in_ci() {
    const char* ci = std::getenv("CI");
    return ci != nullptr && std::strcmp(ci, "true") == 0;
}

std::string RunResult::file(const std::string& path) const {
    auto it = files.find(path);
    return it == files.end() ? std::string() : it->second.content;
}

mode_t RunResult::mode(const std::string& path) const {
    auto it = files.find(path);
    return it == files.end() ? 0 : it->second.mode;
}

std::string RunResult::config_lines(const std::string& first, const std::string& next) const {
    const std::string config = file("/tmp/quorbix/config");
    std::size_t at = config.find(first + "=");
    std::size_t end = config.find(next + "=");
    if (at == std::string::npos || end == std::string::npos) {
        return "<" + first + " .. " + next + " not in the configuration>";
    }
    return config.substr(at, end - at);
}

std::string base64(std::string_view bytes) {
    static constexpr char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    auto byte = [&bytes](std::size_t i) -> unsigned {
        return i < bytes.size() ? static_cast<unsigned char>(bytes[i]) : 0u;
    };
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const unsigned v = (byte(i) << 16) | (byte(i + 1) << 8) | byte(i + 2);
        out.push_back(kAlphabet[(v >> 18) & 63]);
        out.push_back(kAlphabet[(v >> 12) & 63]);
        out.push_back(i + 1 < bytes.size() ? kAlphabet[(v >> 6) & 63] : '=');
        out.push_back(i + 2 < bytes.size() ? kAlphabet[v & 63] : '=');
    }
    return out;
}

std::string settings_file(const std::vector<std::pair<std::string, std::string>>& lines) {
    std::string text;
    for (const auto& [key, value] : lines) {
        text.append(key).append("=").append(value).append("\n");
    }
    return text;
}

std::vector<std::string> passing_run_commands() {
    std::vector<std::string> commands = {
        "mkdir -p /tmp/quorbix/etc",
        "rm -rf /tmp/quorbix/etc/*.*",
        "rm -f /tmp/quorbix/config",
        "rm -rf /tmp/quorbix/*.sh",
    };
    for (int n = 1; n <= 10; ++n) {
        commands.push_back("chmod +x /tmp/quorbix/script-" + std::to_string(n) + ".sh");
    }
    commands.emplace_back("/opt/quorbix/bin/quorbix -c /tmp/quorbix/config -l &");
    return commands;
}

}  // namespace quorbix::e2e
