// A shared /tmp end to end: directories of other users and symbolic links
// never steer what the launcher removes or writes.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <map>
#include <string>

#include "rig.h"

namespace quorbix::e2e {
namespace {

const std::string kCsvText = "a,b\n1,2\n";
const std::string kStart = "/opt/quorbix/bin/quorbix -c /tmp/quorbix/config -l &\n";

// Settings of a run that passes every gate and stages every kind of file.
std::string passing_settings() {
    return settings_file({{"QUORBIX_ENABLE", "1"},
                          {"QUORBIX_MQTT_TLS", "2"},
                          {"QUORBIX_CSV", base64(kCsvText)},
                          {"QUORBIX_LOCALCERT", base64("cert")},
                          {"QUORBIX_LOCALKEY", base64("key")},
                          {"QUORBIX_DIRECTMETHOD_SCRIPT1", base64("#!/bin/sh\n")}});
}

void make_link(const char* target, const char* path) {
    if (::symlink(target, path) != 0) {
        rig_fail(std::string("symlink ") + path);
    }
}

void give_away(const char* path) {
    if (::lchown(path, 1000, 1000) != 0) {
        rig_fail(std::string("lchown ") + path);
    }
}

// What /tmp holds: each path with its file's content, "<dir>" or "<link>".
std::map<std::string, std::string> tree(const RunResult& r) {
    std::map<std::string, std::string> out;
    for (const auto& [path, entry] : r.files) {
        out[path] = entry.is_dir ? "<dir>" : entry.is_link ? "<link>" : entry.content;
    }
    return out;
}

// A directory the launcher must not use, and what is left afterwards.
struct RefusalCase {
    const char* name;
    std::function<void()> setup;             // after the decoy directory is in place
    std::map<std::string, std::string> tmp;  // /tmp afterwards, besides the decoy
    const char* path;                        // named on standard error
    const char* reason;                      // ...with this reason
    std::vector<std::string> commands;
    std::string search_path = "/usr/local/bin:/usr/bin:/bin";
};

void expect_refused(const RefusalCase& t) {
    SCOPED_TRACE(t.name);
    Case c;
    c.unforeseeable = "a /tmp/quorbix that is not the launcher's own";
    c.settings = passing_settings();
    c.path = t.search_path;
    c.setup = [&t] {
        put_file("/tmp/decoy/keep.conf", "decoy");
        t.setup();
    };
    QUORBIX_RUN(r, c);
    EXPECT_EQ(r.status(), 255);
    std::map<std::string, std::string> expected = t.tmp;
    expected["/tmp/decoy"] = "<dir>";
    expected["/tmp/decoy/keep.conf"] = "decoy";
    // Nothing removed, nothing written: no staged file, no log line.
    EXPECT_EQ(tree(r), expected);
    EXPECT_EQ(r.commands, t.commands);
    EXPECT_TRUE(r.daemon_calls.empty());
    EXPECT_TRUE(r.token_calls.empty());
    EXPECT_NE(r.stderr_text.find(t.path), std::string::npos) << r.stderr_text;
    EXPECT_NE(r.stderr_text.find(t.reason), std::string::npos) << r.stderr_text;
}

TEST(Security, ALinkInPlaceOfADirectoryIsRefusedBeforeAnythingIsDone) {
    const RefusalCase cases[] = {
        {"etc is a link to another directory",
         [] {
             put_dir("/tmp/quorbix");
             make_link("/tmp/decoy", "/tmp/quorbix/etc");
         },
         {{"/tmp/quorbix", "<dir>"}, {"/tmp/quorbix/etc", "<link>"}},
         "/tmp/quorbix/etc",
         "symbolic link",
         {}},
        {"/tmp/quorbix is a link to another directory",
         [] { make_link("/tmp/decoy", "/tmp/quorbix"); },
         {{"/tmp/quorbix", "<link>"}},
         "/tmp/quorbix",
         "symbolic link",
         {}},
        // Another user wins the race between the check and the shell's mkdir
        // (played here by a mkdir of the search path).
        {"etc becomes a link while mkdir runs",
         [] {
             put_file("/opt/e2e/race/mkdir",
                      "#!/opt/e2e/sh\n/bin/mkdir -p /tmp/quorbix\n"
                      "/bin/ln -s /tmp/decoy /tmp/quorbix/etc\n",
                      0755);
         },
         {{"/tmp/quorbix", "<dir>"}, {"/tmp/quorbix/etc", "<link>"}},
         "/tmp/quorbix/etc",
         "symbolic link",
         {"mkdir -p /tmp/quorbix/etc"},
         "/opt/e2e/race:/usr/bin:/bin"},
    };
    for (const RefusalCase& t : cases) {
        expect_refused(t);
    }
}

TEST(Security, AnotherUsersDirectoryIsRefusedBeforeAnythingIsDone) {
    if (::geteuid() != 0) {
        // In a user namespace only the caller's own uid is mapped.
        if (in_ci()) {
            FAIL() << "giving a directory to another user needs root, and CI runs as root";
        }
        GTEST_SKIP() << "giving a directory to another user needs root";
    }
    // An earlier run's files, in a directory another user owns or can write.
    const std::map<std::string, std::string> earlier = {
        {"/tmp/quorbix", "<dir>"},
        {"/tmp/quorbix/etc", "<dir>"},
        {"/tmp/quorbix/etc/old.csv", "old csv"},
        {"/tmp/quorbix/script-1.sh", "old script"},
        {"/tmp/quorbix/quorbix_map.txt", "map"},
    };
    auto put_earlier = [] {
        put_file("/tmp/quorbix/etc/old.csv", "old csv");
        put_file("/tmp/quorbix/script-1.sh", "old script");
        put_file("/tmp/quorbix/quorbix_map.txt", "map");
    };
    const RefusalCase cases[] = {
        {"/tmp/quorbix belongs to uid 1000",
         [put_earlier] {
             put_earlier();
             give_away("/tmp/quorbix");
             ::chmod("/tmp/quorbix", 0777);
         },
         earlier,
         "/tmp/quorbix",
         "uid 1000",
         {}},
        {"etc belongs to uid 1000",
         [put_earlier] {
             put_earlier();
             give_away("/tmp/quorbix/etc");
         },
         earlier,
         "/tmp/quorbix/etc",
         "uid 1000",
         {}},
    };
    for (const RefusalCase& t : cases) {
        expect_refused(t);
    }
}

TEST(Security, NoWriteFollowsALinkInAFilesPlace) {
    // Links at the log's path and at every written file's path, some to an
    // existing file and some dangling. With no shell utilities on the search
    // path nothing but the launcher itself removes them.
    Case c;
    c.path = "/opt/e2e/nothing-here";
    c.settings = passing_settings();
    c.setup = [] {
        put_file("/tmp/decoy/keep", "decoy");
        put_dir("/tmp/quorbix/etc");
        make_link("/tmp/decoy/keep", "/tmp/quorbix/quorbix.log");
        make_link("/tmp/decoy/csv", "/tmp/quorbix/etc/config.csv");
        make_link("/tmp/decoy/keep", "/tmp/quorbix/etc/local.key");
        make_link("/tmp/decoy/script", "/tmp/quorbix/script-1.sh");
        make_link("/tmp/decoy/keep", "/tmp/quorbix/config");
    };
    QUORBIX_RUN(r, c);
    EXPECT_EQ(r.status(), 0);
    // The targets were neither written nor created.
    EXPECT_EQ(r.file("/tmp/decoy/keep"), "decoy");
    EXPECT_FALSE(r.has("/tmp/decoy/csv"));
    EXPECT_FALSE(r.has("/tmp/decoy/script"));
    // Each link gave way to a regular file of this run.
    for (const char* path :
         {"/tmp/quorbix/quorbix.log", "/tmp/quorbix/etc/config.csv", "/tmp/quorbix/etc/local.key",
          "/tmp/quorbix/script-1.sh", "/tmp/quorbix/config"}) {
        ASSERT_TRUE(r.has(path)) << path;
        EXPECT_FALSE(r.files.at(path).is_link) << path;
    }
    EXPECT_EQ(r.file("/tmp/quorbix/quorbix.log"), kStart);
    EXPECT_EQ(r.file("/tmp/quorbix/etc/config.csv"), kCsvText);
    EXPECT_EQ(r.file("/tmp/quorbix/etc/local.key"), "key");
    EXPECT_EQ(r.mode("/tmp/quorbix/etc/local.key"), 0600u);
    EXPECT_EQ(r.file("/tmp/quorbix/script-1.sh"), "#!/bin/sh\n");
    EXPECT_EQ(r.file("/tmp/quorbix/config").rfind("[CFG_INFO]\n", 0), 0u);
    EXPECT_EQ(r.mode("/tmp/quorbix/config"), 0600u);
}

// Directories of the launcher's own user are used as they are, whatever the
// umask made of their modes; the check never changes a mode either.
struct OwnDirectoryCase {
    const char* name;
    mode_t umask;
    std::function<void()> setup;
    mode_t dir_mode;
};

TEST(Security, OwnDirectoriesAreUsedWhateverTheirMode) {
    const OwnDirectoryCase cases[] = {
        {"made under umask 000, then used again", 0, nullptr, 0777},
        {"an earlier run's, private", 022, [] { put_dir("/tmp/quorbix/etc", 0700); }, 0700},
    };
    for (const OwnDirectoryCase& t : cases) {
        SCOPED_TRACE(t.name);
        Case c;
        c.umask = t.umask;
        c.settings = passing_settings();
        c.setup = t.setup;
        c.runs = 2;
        QUORBIX_RUN(r, c);
        const std::vector<int> statuses = {0, 0};
        EXPECT_EQ(r.statuses, statuses);
        EXPECT_EQ(r.file("/tmp/quorbix/quorbix.log"), kStart + kStart);
        EXPECT_EQ(r.mode("/tmp/quorbix"), t.dir_mode);
        EXPECT_EQ(r.mode("/tmp/quorbix/etc"), t.dir_mode);
        EXPECT_EQ(r.daemon_calls.size(), 2u);
    }
}

}  // namespace
}  // namespace quorbix::e2e
