// A shared /tmp end to end: directories of other users and symbolic links
// never steer what the launcher removes or writes.
#include <fcntl.h>
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
        // The mkdir of the search path swaps etc for a link: the check after
        // the shell's mkdir catches it.
        {"etc becomes a link while mkdir runs",
         [] {
             put_file("/opt/e2e/race/mkdir",
                      "#!/opt/e2e/sh\n/bin/rmdir /tmp/quorbix/etc\n"
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

// Nothing under /tmp/quorbix is writable by anyone but its owner, whatever
// umask the service manager hands down and whatever modes an earlier run
// left: no other user can swap a script the daemon runs as root.
struct UmaskCase {
    const char* name;
    mode_t umask;
    std::function<void()> setup;
    mode_t dirs, files, scripts;  // the key and the configuration are always 0600
};

TEST(Security, NothingTheLauncherMakesIsWritableByOthers) {
    const auto loose_leftovers = [] {
        put_dir("/tmp/quorbix", 0777);
        put_dir("/tmp/quorbix/etc", 0777);
        put_file("/tmp/quorbix/quorbix.log", "", 0666);
    };
    const UmaskCase cases[] = {
        {"umask 000", 0, nullptr, 0755, 0644, 0755},
        {"umask 002", 002, nullptr, 0755, 0644, 0755},
        {"umask 027", 027, nullptr, 0750, 0640, 0750},
        {"umask 077", 077, nullptr, 0700, 0600, 0700},
        {"an earlier run's 0777 directories and 0666 log", 022, loose_leftovers, 0755, 0644, 0755},
        {"an earlier run's private directories", 022,
         [] {
             put_dir("/tmp/quorbix", 0700);
             put_dir("/tmp/quorbix/etc", 0700);
         },
         0700, 0644, 0755},
    };
    for (const UmaskCase& t : cases) {
        SCOPED_TRACE(t.name);
        Case c;
        c.umask = t.umask;
        c.settings = passing_settings();
        c.setup = t.setup;
        QUORBIX_RUN(r, c);
        EXPECT_EQ(r.status(), 0);
        EXPECT_EQ(r.file("/tmp/quorbix/quorbix.log"), kStart);
        const std::map<std::string, mode_t> exact = {{"/tmp/quorbix/etc/local.key", 0600},
                                                     {"/tmp/quorbix/config", 0600},
                                                     {"/tmp/quorbix/script-1.sh", t.scripts}};
        int seen = 0;
        for (const auto& [path, entry] : r.files) {
            if (path.rfind("/tmp/quorbix", 0) != 0) {
                continue;
            }
            ++seen;
            const auto it = exact.find(path);
            const mode_t expected = entry.is_dir        ? t.dirs
                                    : it != exact.end() ? it->second
                                                        : t.files;
            EXPECT_EQ(entry.mode, expected) << path << std::oct << " mode " << entry.mode;
            EXPECT_EQ(entry.mode & 022, 0u) << path;
        }
        // The two directories, the log, the configuration, four staged files
        // (no CA) and one script.
        EXPECT_EQ(seen, 8) << "files under /tmp/quorbix";
    }
}

// Objects another user could have planted while /tmp/quorbix was writable
// by all: none may block the run, and no write may land in another file.
struct PlantedCase {
    const char* name;
    std::function<void()> setup;
    bool victim;  // a file /tmp/victim that must keep its bytes and mode
    std::string search_path = "/usr/local/bin:/usr/bin:/bin";
};

void make_hard_link(const char* target, const char* path) {
    if (::link(target, path) != 0) {
        rig_fail(std::string("link ") + path);
    }
}

// A FIFO at the log with a full pipe, held open for the whole run: a write
// to it would wait for ever.
void plant_full_fifo(const char* path) {
    if (::mkfifo(path, 0666) != 0) {
        rig_fail(std::string("mkfifo ") + path);
    }
    // Kept open (and never closed) by the namespace's process until the end.
    const int fd = ::open(path, O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        rig_fail(std::string("opening the FIFO ") + path);
    }
    const std::string block(4096, 'x');
    while (::write(fd, block.data(), block.size()) > 0) {
    }
}

// A chain of directories deeper than the launcher removes, at path.
void plant_deep_tree(const std::string& path) {
    std::string dir = path;
    for (int depth = 0; depth < 80; ++depth) {
        dir += "/d";
    }
    put_dir(dir);
}

TEST(Security, PlantedObjectsNeitherBlockNorRedirectTheRun) {
    const PlantedCase cases[] = {
        {"a full FIFO held open at the log",
         [] {
             put_dir("/tmp/quorbix");
             plant_full_fifo("/tmp/quorbix/quorbix.log");
         },
         false},
        {"a hard link to another file at the log",
         [] {
             put_file("/tmp/victim", "victim\n", 0640);
             put_dir("/tmp/quorbix");
             make_hard_link("/tmp/victim", "/tmp/quorbix/quorbix.log");
         },
         true},
        {"a directory at the log", [] { put_dir("/tmp/quorbix/quorbix.log/x"); }, false},
        // With no rm on the search path, nothing clears the staged path
        // before the launcher opens it.
        {"a hard link to another file at the key",
         [] {
             put_file("/tmp/victim", "victim\n", 0640);
             put_dir("/tmp/quorbix/etc");
             make_hard_link("/tmp/victim", "/tmp/quorbix/etc/local.key");
         },
         true, "/opt/e2e/nothing-here"},
        {"a directory tree at config.tmp, with a link out of it",
         [] {
             put_file("/tmp/victim", "victim\n", 0640);
             put_dir("/tmp/quorbix/config.tmp/a/b");
             make_link("/tmp", "/tmp/quorbix/config.tmp/a/tmp");
         },
         true},
        {"a tree too deep to remove at config.tmp",
         [] { plant_deep_tree("/tmp/quorbix/config.tmp"); }, false},
        {"a directory at config", [] { put_dir("/tmp/quorbix/config/x"); }, false},
    };
    for (const PlantedCase& t : cases) {
        SCOPED_TRACE(t.name);
        Case c;
        c.settings = passing_settings();
        c.setup = t.setup;
        c.path = t.search_path;
        c.timeout_seconds = 20;
        QUORBIX_RUN(r, c);
        EXPECT_EQ(r.status(), 0);
        EXPECT_EQ(r.daemon_calls.size(), 1u);
        EXPECT_EQ(r.file("/tmp/quorbix/quorbix.log"), kStart);
        EXPECT_EQ(r.file("/tmp/quorbix/etc/local.key"), "key");
        EXPECT_EQ(r.mode("/tmp/quorbix/etc/local.key"), 0600u);
        EXPECT_FALSE(r.has("/tmp/quorbix/config.tmp"));
        EXPECT_EQ(r.file("/tmp/quorbix/config").rfind("[CFG_INFO]\n", 0), 0u);
        if (t.victim) {
            EXPECT_EQ(r.file("/tmp/victim"), "victim\n");
            EXPECT_EQ(r.mode("/tmp/victim"), 0640u);
        }
    }
}

}  // namespace
}  // namespace quorbix::e2e
