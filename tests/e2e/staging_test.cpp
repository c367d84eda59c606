// The staged files end to end: what lands under /tmp/quorbix, with which
// bytes and permissions, and what happens when /tmp cannot take them.
#include <gtest/gtest.h>

#include <string>

#include "rig.h"

namespace quorbix::e2e {
namespace {

const std::string kCsvText = "register,address,type\ntemp,40001,float\n";
const std::string kCsv = base64(kCsvText);
const std::string kStart = "/opt/quorbix/bin/quorbix -c /tmp/quorbix/config -l &\n";

TEST(Staging, OnlyTheNonEmptyScriptSlotIsStagedAndEverySlotIsChmodded) {
    Case c;
    c.settings =
        settings_file({{"QUORBIX_ENABLE", "1"},
                       {"QUORBIX_CSV", kCsv},
                       {"QUORBIX_DIRECTMETHOD_SCRIPT3", base64("#!/bin/sh\necho three\n")}});
    c.setup = [] { put_file("/tmp/quorbix/script-5.sh", "stale\n", 0755); };
    QUORBIX_RUN(r, c);
    EXPECT_EQ(r.status(), 0);
    for (int n = 1; n <= 10; ++n) {
        std::string path = "/tmp/quorbix/script-" + std::to_string(n) + ".sh";
        EXPECT_EQ(r.has(path), n == 3) << path;
    }
    EXPECT_EQ(r.file("/tmp/quorbix/script-3.sh"), "#!/bin/sh\necho three\n");
    EXPECT_EQ(r.mode("/tmp/quorbix/script-3.sh"), 0755u);
    EXPECT_EQ(r.commands, passing_run_commands());
}

TEST(Staging, EveryDecodedByteIsStagedNulBytesIncluded) {
    const std::string der("\x30\x82\x01\x00\x00\x00\x05\xff\x00", 9);
    Case c;
    c.settings = settings_file({{"QUORBIX_ENABLE", "1"},
                                {"QUORBIX_MQTT_TLS", "2"},
                                {"QUORBIX_CSV", kCsv},
                                {"QUORBIX_CA", base64(der)},
                                {"QUORBIX_LOCALCERT", base64(der + der)},
                                {"QUORBIX_LOCALKEY", base64(std::string("\0key", 4))}});
    QUORBIX_RUN(r, c);
    EXPECT_EQ(r.status(), 0);
    EXPECT_EQ(r.file("/tmp/quorbix/etc/ca.crt"), der);
    EXPECT_EQ(r.file("/tmp/quorbix/etc/local.crt"), der + der);
    EXPECT_EQ(r.file("/tmp/quorbix/etc/local.key"), std::string("\0key", 4));
}

TEST(Staging, EarlierStagedFilesArePassedOverForThisRunsValues) {
    // Files an earlier run staged, the key world-readable: with the shell's
    // rm, and without it, none of them survives as this run's, and the key
    // this run stages is private.
    for (const char* path : {"/usr/local/bin:/usr/bin:/bin", "/opt/e2e/nothing-here"}) {
        SCOPED_TRACE(std::string("search path ") + path);
        Case c;
        c.path = path;
        c.settings = settings_file({{"QUORBIX_ENABLE", "1"},
                                    {"QUORBIX_CSV", kCsv},
                                    {"QUORBIX_LOCALKEY", base64("new key")}});
        c.setup = [] {
            put_file("/tmp/quorbix/etc/ca.crt", "old ca");
            put_file("/tmp/quorbix/etc/local.key", "old key, and longer than the new one", 0644);
        };
        QUORBIX_RUN(r, c);
        EXPECT_EQ(r.status(), 0);
        EXPECT_FALSE(r.has("/tmp/quorbix/etc/ca.crt"));
        EXPECT_EQ(r.file("/tmp/quorbix/etc/local.key"), "new key");
        EXPECT_EQ(r.mode("/tmp/quorbix/etc/local.key"), 0600u);
    }
}

// /tmp too small for one of the staged files: that file must not be left
// partial, the gate that tests it reports it missing, and a script that is
// lost ends the run as well.
struct FullCase {
    const char* name;
    std::vector<std::pair<std::string, std::string>> settings;
    const char* missing;
    int status;
    const char* log;
};

TEST(Staging, AFileThatCannotBeWrittenWholeIsNotLeftBehind) {
    const std::string big(96 * 1024, 'x');  // more than the 64 KiB /tmp
    const FullCase cases[] = {
        {"CSV too large",
         {{"QUORBIX_ENABLE", "1"}, {"QUORBIX_CSV", base64(big)}},
         "/tmp/quorbix/etc/config.csv",
         255,
         "Can't find CSV config file in Appcapsule\n"},
        {"CA certificate too large",
         {{"QUORBIX_ENABLE", "1"},
          {"QUORBIX_MQTT_TLS", "1"},
          {"QUORBIX_CSV", kCsv},
          {"QUORBIX_CA", base64(big)}},
         "/tmp/quorbix/etc/ca.crt",
         255,
         "Can't find CA Certificate file in Appcapsule\n"},
        {"client key too large",
         {{"QUORBIX_ENABLE", "1"},
          {"QUORBIX_MQTT_TLS", "2"},
          {"QUORBIX_CSV", kCsv},
          {"QUORBIX_LOCALCERT", base64("cert")},
          {"QUORBIX_LOCALKEY", base64(big)}},
         "/tmp/quorbix/etc/local.key",
         255,
         "Can't Local Private Key file in Appcapsule\n"},
        {"script too large",
         {{"QUORBIX_ENABLE", "1"},
          {"QUORBIX_CSV", kCsv},
          {"QUORBIX_DIRECTMETHOD_SCRIPT4", base64("#!/bin/sh\n" + big)}},
         "/tmp/quorbix/script-4.sh",
         255,
         "Can't write direct-method script /tmp/quorbix/script-4.sh\n"},
    };
    for (const FullCase& t : cases) {
        SCOPED_TRACE(t.name);
        Case c;
        c.unforeseeable = "a full /tmp";
        c.tmp_options = "size=64k";
        c.settings = settings_file(t.settings);
        QUORBIX_RUN(r, c);
        EXPECT_EQ(r.status(), t.status);
        EXPECT_FALSE(r.has(t.missing));
        EXPECT_EQ(r.file("/tmp/quorbix/quorbix.log"), t.log);
        EXPECT_TRUE(r.daemon_calls.empty());
        ASSERT_FALSE(r.commands.empty());
        EXPECT_EQ(r.commands.back(),
                  "rm /tmp/quorbix/quorbix_map.txt /tmp/quorbix/ex_quorbix_map.txt");
        // An uploaded file is named with its reason; the gates decide.
        if (std::string(t.missing).rfind("/tmp/quorbix/etc/", 0) == 0) {
            EXPECT_NE(r.stderr_text.find(std::string("cannot write ") + t.missing),
                      std::string::npos)
                << r.stderr_text;
        }
    }
}

TEST(Staging, ReadOnlyTmpIsRefusedWithoutACrash) {
    Case c;
    c.unforeseeable = "a read-only /tmp";
    c.tmp_read_only = true;
    c.settings = settings_file({{"QUORBIX_ENABLE", "1"}, {"QUORBIX_CSV", kCsv}});
    QUORBIX_RUN(r, c);
    EXPECT_EQ(r.status(), 255);
    EXPECT_TRUE(r.files.empty());
    EXPECT_NE(r.stderr_text.find("refusing to start: /tmp/quorbix is missing"), std::string::npos)
        << r.stderr_text;
}

TEST(Staging, AFileWhereTheStagingDirectoryBelongsIsRefused) {
    Case c;
    c.unforeseeable = "a file where the staging directory belongs";
    c.settings = settings_file({{"QUORBIX_ENABLE", "1"}, {"QUORBIX_CSV", kCsv}});
    c.setup = [] { put_file("/tmp/quorbix/etc", ""); };
    QUORBIX_RUN(r, c);
    EXPECT_EQ(r.status(), 255);
    EXPECT_FALSE(r.has("/tmp/quorbix/quorbix.log"));
    EXPECT_TRUE(r.commands.empty());
    EXPECT_FALSE(r.files.at("/tmp/quorbix/etc").is_dir);
    EXPECT_NE(r.stderr_text.find("/tmp/quorbix/etc is not a directory"), std::string::npos)
        << r.stderr_text;
}

// Shell utilities missing from the search path: each leaves the run sound.
TEST(Staging, MissingShellUtilitiesDoNotLetStaleFilesPass) {
    // Only "sh" on the search path: no mkdir, rm or chmod.
    Case c;
    c.path = "/opt/e2e/nothing-here";
    c.settings = settings_file({{"QUORBIX_ENABLE", "1"},
                                {"QUORBIX_CSV", kCsv},
                                {"QUORBIX_DIRECTMETHOD_SCRIPT1", base64("#!/bin/sh\n")}});
    c.setup = [] { put_file("/tmp/quorbix/etc/ca.crt", "stale ca"); };
    QUORBIX_RUN(r, c);
    EXPECT_EQ(r.status(), 0);
    EXPECT_EQ(r.file("/tmp/quorbix/etc/config.csv"), kCsvText);
    EXPECT_FALSE(r.has("/tmp/quorbix/etc/ca.crt"));
    EXPECT_EQ(r.file("/tmp/quorbix/script-1.sh"), "#!/bin/sh\n");

    // No mkdir at all, and nothing under /tmp yet: the launcher makes the
    // staging directory itself.
    Case fresh = c;
    fresh.setup = nullptr;
    QUORBIX_RUN(r2, fresh);
    EXPECT_EQ(r2.status(), 0);
    EXPECT_EQ(r2.file("/tmp/quorbix/etc/config.csv"), kCsvText);
    EXPECT_EQ(r2.file("/tmp/quorbix/quorbix.log"), kStart);
}

}  // namespace
}  // namespace quorbix::e2e
