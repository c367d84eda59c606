// File names and values built to forge the checker's output, in every
// format, the views and --diff: each output is parsed back, holds one gcc
// line per finding, names the files it read and holds no control character
// raw, but where a pipe needs the exact bytes.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "check_cli.h"
#include "hostile.h"
#include "temp_file.h"

// GCC 12 warns of std::function state inside <regex> as maybe used
// uninitialised at -O2 with the sanitizers: a false positive in the library.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <regex>
#pragma GCC diagnostic pop
#else
#include <regex>
#endif

namespace quorbix {
namespace {

using test::CliRun;
using test::hostile_names;
using test::HostileName;
using test::kHostile;
using test::kHostileShown;
using test::run_check;

// The problem matcher the README gives for the gcc format.
const std::regex kMatcher(R"(^(.+?):(\d+):(\d+): (error|warning|note): (.*) \[([a-z0-9-]+)\]$)");

// A folder "fleet" holding one file of hostile settings under each hostile
// name.
struct Fleet {
    test::TempDir dir;
    std::string path = dir.path("fleet");

    Fleet() {
        EXPECT_EQ(::mkdir(path.c_str(), 0755), 0);
        for (const HostileName& n : hostile_names()) {
            dir.write("fleet/" + n.name, test::hostile_settings());
        }
    }
};

void expect_no_raw_control(const std::string& text, const std::string& what) {
    const std::size_t at = test::raw_control(text);
    EXPECT_EQ(at, std::string::npos)
        << what << ": a raw control at byte " << at << ": " << test::hex_around(text, at);
}

bool holds(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t lf = text.find('\n'); lf != std::string::npos; lf = text.find('\n', start)) {
        lines.push_back(text.substr(start, lf - start));
        start = lf + 1;
    }
    EXPECT_EQ(start, text.size()) << "the text does not end with a line feed";
    return lines;
}

// The JSON report's findings per file, by the file's own name.
std::map<std::string, std::size_t> json_findings(const std::string& fleet) {
    const CliRun r = run_check({"--json", fleet});
    const nlohmann::json doc = nlohmann::json::parse(r.out, nullptr, false);
    std::map<std::string, std::size_t> found;
    if (doc.is_discarded()) {
        ADD_FAILURE() << "the JSON report does not parse";
        return found;
    }
    for (const nlohmann::json& file : doc["files"]) {
        const std::string name = file["file"].get<std::string>();
        found[file.contains("file_percent_encoded") ? test::percent_decoded(name) : name] =
            file["findings"].size();
    }
    return found;
}

TEST(CheckHostile, TheHumanReportShowsEveryNameAndValueEscaped) {
    const Fleet fleet;
    const CliRun r = run_check({fleet.path});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(r.err, "");
    expect_no_raw_control(r.out, "the human report");
    const std::string out = "\n" + r.out;
    for (const HostileName& n : hostile_names()) {
        SCOPED_TRACE(n.what);
        const std::string name = fleet.path + "/" + n.shown;
        EXPECT_TRUE(holds(out, "\n" + name + ":6:1: error: unknown key 'QUORBIX_MQTT_KEEPALVE'"))
            << r.out;
        EXPECT_TRUE(holds(out, "\n" + name + ": outcome: the launcher starts the daemon"));
    }
    EXPECT_TRUE(
        holds(r.out, "text after the number's digits, '" + kHostileShown + "', is ignored"));
    EXPECT_TRUE(holds(r.out, "    7 | QUORBIX_MQTT_QOS=1" + kHostileShown + "\n"));
    EXPECT_TRUE(holds(r.out, "    8 | QUORBIX_MQTT_USR=\"u\"" + kHostileShown + "\n"));
}

TEST(CheckHostile, TheGccFormatHasOneLinePerFindingNamingItsFile) {
    const Fleet fleet;
    std::map<std::string, std::string> raw_of;  // the raw name of each name shown
    for (const HostileName& n : hostile_names()) {
        raw_of[fleet.path + "/" + n.shown] = n.name;
    }
    const CliRun r = run_check({"--format=gcc", fleet.path});
    EXPECT_EQ(r.status, 1) << r.err;
    expect_no_raw_control(r.out, "the gcc report");
    std::map<std::string, std::size_t> lines;  // per raw name
    for (const std::string& line : lines_of(r.out)) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(line, m, kMatcher)) << line;
        const auto named = raw_of.find(m[1].str());
        ASSERT_NE(named, raw_of.end()) << "a line names no file that was read: " << line;
        ++lines[fleet.path + "/" + named->second];
    }
    // Every settings file starts the daemon: no refusal lines.
    const std::map<std::string, std::size_t> findings = json_findings(fleet.path);
    EXPECT_EQ(findings.size(), hostile_names().size());
    EXPECT_EQ(lines, findings);
}

TEST(CheckHostile, JsonAndSarifGiveBackEveryNameAndParse) {
    const Fleet fleet;
    std::set<std::string> names;
    for (const HostileName& n : hostile_names()) {
        names.insert(fleet.path + "/" + n.name);
    }
    const CliRun json = run_check({"--json", "--record", fleet.path});
    expect_no_raw_control(json.out, "the JSON report");
    const nlohmann::json doc = nlohmann::json::parse(json.out, nullptr, false);
    ASSERT_FALSE(doc.is_discarded()) << json.out;
    std::set<std::string> named;
    for (const nlohmann::json& file : doc["files"]) {
        const std::string name = file["file"].get<std::string>();
        // Only a name that is not UTF-8 (the one of bytes that are no
        // UTF-8) is percent-encoded, and then marked.
        const bool encoded = holds(name, "/latin");
        EXPECT_EQ(file.contains("file_percent_encoded"), encoded) << name;
        named.insert(encoded ? test::percent_decoded(name) : name);
        EXPECT_EQ(file.value("file_percent_encoded", true), true) << name;
        // A message says what it quotes as the human report does.
        bool quoted = false;
        for (const nlohmann::json& f : file["findings"]) {
            quoted = quoted || f["message"] == "text after the number's digits, '" + kHostileShown +
                                                   "', is ignored";
        }
        EXPECT_TRUE(quoted) << name;
    }
    EXPECT_EQ(named, names);

    const CliRun sarif = run_check({"--format=sarif", fleet.path});
    expect_no_raw_control(sarif.out, "the SARIF log");
    const nlohmann::json log = nlohmann::json::parse(sarif.out, nullptr, false);
    ASSERT_FALSE(log.is_discarded()) << sarif.out;
    std::map<std::string, std::size_t> results;
    for (const nlohmann::json& result : log["runs"][0]["results"]) {
        const std::string uri =
            result["locations"][0]["physicalLocation"]["artifactLocation"]["uri"];
        EXPECT_EQ(uri.find_first_of(" \t\n\"<>\\"), std::string::npos) << uri;
        ++results[test::percent_decoded(uri)];
    }
    EXPECT_EQ(results, json_findings(fleet.path));
}

TEST(CheckHostile, TheRecordViewAndTheConfigurationOnATerminal) {
    const Fleet fleet;
    const CliRun record = run_check({"--record", fleet.path});
    expect_no_raw_control(record.out, "the record view");
    expect_no_raw_control(record.err, "the findings");
    EXPECT_TRUE(holds(record.out, "line 9      '" + kHostileShown + "'\n")) << record.out;
    for (const HostileName& n : hostile_names()) {
        EXPECT_TRUE(holds(record.out, "==> " + fleet.path + "/" + n.shown + " <==\n")) << n.what;
    }

    const char kNote[] =
        "quorbix-check: standard output is a terminal: control bytes are shown as <xx>; a pipe or "
        "a file gets the exact bytes\n";
    const std::string settings = fleet.dir.write("settings", test::hostile_settings());
    // A pipe or a file takes the exact bytes the launcher writes.
    const CliRun piped = run_check({"--config", settings});
    EXPECT_TRUE(holds(piped.out, "\nmqtt_password=" + kHostile + "\n")) << piped.out;
    EXPECT_FALSE(holds(piped.err, kNote));
    // A terminal shows them escaped, once said.
    const CliRun shown = run_check({"--config", settings}, "", true);
    expect_no_raw_control(shown.out, "the configuration on a terminal");
    EXPECT_TRUE(holds(shown.out, "\nmqtt_password=" + kHostileShown + "\n")) << shown.out;
    EXPECT_EQ(shown.err.find(kNote), shown.err.rfind(kNote));
    EXPECT_TRUE(holds(shown.err, kNote)) << shown.err;
    // Nothing to escape, nothing to say.
    const std::string plain = fleet.dir.write(
        "plain", "QUORBIX_ENABLE=1\nQUORBIX_CSV=TWFu\nQUORBIX_MQTT_ADDR=h\nQUORBIX_CLIENT_ID=c\n");
    EXPECT_FALSE(holds(run_check({"--config", plain}, "", true).err, kNote));
}

// What reaches standard error, or standard output: names that cannot be
// read, arguments quoted by usage errors.
TEST(CheckHostile, StandardErrorEscapesNamesAndArguments) {
    const test::TempDir dir;
    struct Row {
        std::vector<std::string> args;
        std::string err;  // must be on standard error
    };
    const std::string missing = dir.path("gone\033]2;owned\007\n+x");
    const std::string shown = dir.path("gone<1b>]2;owned<07><0a>+x");
    const Row rows[] = {
        {{missing}, shown + ":1:1: error: cannot read: No such file or directory"},
        {{"--format=gcc", missing}, shown + ":1:1: error: cannot read: No such file"},
        {{"--format=h\033[2J\xc2\x9b"}, "not 'h<1b>[2J<c2><9b>'"},
        {{"--bogus\n\xe2\x80\xae"}, "unknown option '--bogus<0a><e2><80><ae>'"},
        {{"--ignore=x\033", missing}, "unknown code 'x<1b>'"},
        {{"--token-file", missing}, "cannot read the token file " + shown},
    };
    for (const Row& row : rows) {
        const CliRun r = run_check(row.args);
        EXPECT_EQ(r.status, 2);
        const std::string said = r.err + r.out;
        EXPECT_TRUE(holds(said, row.err)) << said;
        expect_no_raw_control(said, row.err);
    }
}

// Applies the diff with `command` in dir; its exit status.
int apply(const test::TempDir& dir, const std::string& diff, const std::string& command) {
    dir.write("fix.diff", diff);
    const std::string run =
        "cd '" + dir.path("") + "' && " + command + " < fix.diff >/dev/null 2>&1";
    return std::system(run.c_str());
}

// --diff patches only the files it names: a name that would forge or break
// a header gets no hunk (its findings stay), a ./ at a name's head goes.
TEST(CheckHostile, TheDiffPatchesOnlyTheFilesItNames) {
    const Fleet fleet;
    const test::TempDir& dir = fleet.dir;
    // A file each forged header could name instead, and names that patch
    // reads as another file's: a C-quoted one, and blanks at either end.
    dir.write("victim.txt", test::hostile_settings());
    const std::vector<std::string> misread = {"\"victim.txt\"", " victim.txt", "victim.txt "};
    std::vector<std::string> args = {"--diff", "././fleet"};
    for (const std::string& name : misread) {
        dir.write(name, test::hostile_settings());
        args.push_back("./" + name);
    }
    char saved[4096];
    ASSERT_NE(::getcwd(saved, sizeof saved), nullptr);
    ASSERT_EQ(::chdir(dir.path("").c_str()), 0);
    const CliRun r = run_check(args);
    ASSERT_EQ(::chdir(saved), 0);
    EXPECT_EQ(r.status, 1) << r.err;

    std::set<std::string> headers;
    for (const std::string& line : lines_of(r.out)) {
        if (line.rfind("--- ", 0) == 0 || line.rfind("+++ ", 0) == 0) {
            headers.insert(line);
        }
    }
    std::set<std::string> expected;
    const std::string err = "\n" + r.err;
    for (const HostileName& n : hostile_names()) {
        SCOPED_TRACE(n.what);
        const std::string given = "././fleet/" + n.shown;
        if (n.patchable) {
            expected.insert("--- fleet/" + n.name + "\t");
            expected.insert("+++ fleet/" + n.name + "\t");
        } else {
            EXPECT_TRUE(holds(err, "\nquorbix-check: " + given + ": no diff: the name holds"))
                << r.err;
        }
        // Its findings stand, on standard error.
        EXPECT_TRUE(holds(err, "\n" + given + ":6:1: error: unknown key")) << r.err;
    }
    for (const std::string& name : misread) {
        EXPECT_TRUE(holds(err, "\nquorbix-check: ./" + name + ": no diff: the name begins with"))
            << r.err;
    }
    EXPECT_EQ(headers, expected) << r.out;
    expect_no_raw_control(r.err, "the findings and notes");

    // Both tools take the patch, and it changes the named files only.
    EXPECT_EQ(apply(dir, r.out, "git apply -p0 --check"), 0) << r.out;
    EXPECT_EQ(apply(dir, r.out, "patch -p0"), 0) << r.out;
    EXPECT_EQ(dir.read("victim.txt"), test::hostile_settings());
    for (const std::string& name : misread) {
        EXPECT_EQ(dir.read(name), test::hostile_settings()) << name;
    }
    for (const HostileName& n : hostile_names()) {
        EXPECT_EQ(dir.read("fleet/" + n.name),
                  n.patchable ? test::hostile_settings_fixed() : test::hostile_settings())
            << n.what;
    }
}

}  // namespace
}  // namespace quorbix
