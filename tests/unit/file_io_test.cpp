#include "common/file_io.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "staging/staging.h"
#include "temp_file.h"

namespace quorbix {
namespace {

using test::TempDir;

mode_t mode_of(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

TEST(FileWriteBytes, WritesEveryByteWithTheAskedMode) {
    TempDir dir;
    const std::string bytes("\0a\0b\xff", 5);
    const std::string path = dir.path("bin");
    mode_t old_mask = ::umask(0);
    EXPECT_TRUE(file_write_bytes(path.c_str(), bytes.data(), bytes.size()));
    EXPECT_EQ(dir.read("bin"), bytes);
    // Never writable by others, whatever the umask.
    EXPECT_EQ(mode_of(path), 0644u);
    // An existing readable file becomes private when an exact mode is asked.
    EXPECT_TRUE(file_write_bytes(path.c_str(), "k", 1, 0600, true));
    EXPECT_EQ(mode_of(path), 0600u);
    EXPECT_EQ(dir.read("bin"), "k");
    ::umask(old_mask);
}

// The key is staged with an exact 0600: whatever the umask, and whatever
// permissions a file left at its path had. Other files keep the creation
// mode the umask leaves, or their earlier permissions, less any group or
// other write bits.
struct ModeCase {
    mode_t umask_value;
    mode_t existing;  // 0: no earlier file
    bool exact;
    mode_t expected;
};

TEST(StageFile, ModesFollowTheUmaskUnlessExact) {
    const ModeCase cases[] = {
        {0, 0, true, 0600},       {0, 0644, true, 0600},    {0, 0666, true, 0600},
        {022, 0, true, 0600},     {022, 0777, true, 0600},  {077, 0, true, 0600},
        {0, 0, false, 0644},      {022, 0, false, 0644},    {077, 0, false, 0600},
        {022, 0604, false, 0604}, {022, 0666, false, 0644},
    };
    for (const ModeCase& c : cases) {
        TempDir dir;
        const std::string path = dir.path("local.key");
        if (c.existing != 0) {
            dir.write("local.key", "an earlier, longer content");
            ASSERT_EQ(::chmod(path.c_str(), c.existing), 0);
        }
        const mode_t old_mask = ::umask(c.umask_value);
        EXPECT_TRUE(stage_file(path.c_str(), "a2V5", 0600 | (c.exact ? 0 : 0066), c.exact).written);
        ::umask(old_mask);
        EXPECT_EQ(mode_of(path), c.expected)
            << std::oct << "umask " << c.umask_value << " existing " << c.existing;
        EXPECT_EQ(dir.read("local.key"), "key");
    }
}

TEST(FileWriteBytes, AFailedWriteLeavesNoFile) {
    TempDir dir;
    const std::string missing_dir = dir.path("no/such/file");
    EXPECT_FALSE(file_write_bytes(missing_dir.c_str(), "x", 1));

    // A file size limit makes the write stop short, as a full disk would. It
    // is set in this process for the one write (a forked child would crash
    // under some emulators), and put back before any check.
    const std::string path = dir.path("short");
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto old_handler = ::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{4096, saved.rlim_max};
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
    const std::string big(100000, 'b');
    const bool ok = file_write_bytes(path.c_str(), big.data(), big.size());
    ::setrlimit(RLIMIT_FSIZE, &saved);
    ::signal(SIGXFSZ, old_handler);
    EXPECT_FALSE(ok) << "the short write was not reported";
    EXPECT_EQ(::access(path.c_str(), F_OK), -1) << "a partial file was left behind";
}

TEST(FileAppendText, SaysWhyTheTextDidNotReachTheFile) {
    TempDir dir;
    const std::string log = dir.path("log");
    EXPECT_EQ(file_append_text(log.c_str(), "one\n"), 0);
    EXPECT_EQ(file_append_text(dir.path("no/such/log").c_str(), "x\n"), ENOENT);
    // Past the file-size limit (set in this process for the one append, see
    // AFailedWriteLeavesNoFile): EFBIG, and the log keeps what it had.
    dir.write("log", std::string(8192, 'l'));
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto old_handler = ::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{4096, saved.rlim_max};
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
    const int error = file_append_text(log.c_str(), "two\n");
    ::setrlimit(RLIMIT_FSIZE, &saved);
    ::signal(SIGXFSZ, old_handler);
    EXPECT_EQ(error, EFBIG);
    EXPECT_EQ(dir.read("log"), std::string(8192, 'l'));
}

TEST(StageFile, WhatCannotBeRemovedIsNotTakenForStaged) {
    TempDir dir;
    // A directory where the file belongs (with an entry, so that no rmdir
    // could take it either), and a text that stages nothing: the stale
    // entry stays and is said to.
    const std::string path = dir.path("ca.crt");
    ASSERT_EQ(::mkdir(path.c_str(), 0755), 0);
    dir.write("ca.crt/inside", "x");
    const StagedFile stale = stage_file(path.c_str(), "");
    EXPECT_FALSE(stale.written);
    EXPECT_EQ(stale.error, 0);
    EXPECT_EQ(stale.stale_error, EISDIR);
    // No directory to write into: the write fails, and nothing is there.
    const StagedFile unwritten = stage_file(dir.path("none/ca.crt").c_str(), "Y2E=");
    EXPECT_FALSE(unwritten.written);
    EXPECT_EQ(unwritten.error, ENOENT);
    EXPECT_EQ(unwritten.stale_error, 0);
}

TEST(StageFile, EmptyDecodingCreatesNoFileAndRemovesAStaleOne) {
    TempDir dir;
    const std::string path = dir.write("stale.crt", "old");
    const StagedFile nothing = stage_file(path.c_str(), "=== \n");
    EXPECT_FALSE(nothing.written);
    EXPECT_EQ(nothing.error, 0);
    EXPECT_EQ(nothing.stale_error, 0);
    EXPECT_EQ(::access(path.c_str(), F_OK), -1);
    EXPECT_TRUE(stage_file(path.c_str(), "AGFi").written);  // "\0ab"
    EXPECT_EQ(dir.read("stale.crt"), std::string("\0ab", 3));
}

TEST(StageFile, ATextLongerThanADecodingChunkIsStagedWhole) {
    // "TWFu" is "Man"; a line feed after every fifth symbol makes groups of
    // four straddle the boundaries of the chunks the text is decoded in.
    std::string symbols;
    for (int i = 0; i < 20000; ++i) {
        symbols += "TWFu";
    }
    std::string text;
    for (std::size_t i = 0; i < symbols.size(); i += 5) {
        text += symbols.substr(i, 5) + "\n";
    }
    std::string expected;
    for (int i = 0; i < 20000; ++i) {
        expected += "Man";
    }
    TempDir dir;
    EXPECT_TRUE(stage_file(dir.path("long.csv").c_str(), text).written);
    EXPECT_EQ(dir.read("long.csv"), expected);
}

// What open_for_writing makes of each kind of object at its path: anything
// but a regular file of the caller's own with one name that nobody else can
// write is replaced by a new file (an appended one keeping its contents).
struct PlantedCase {
    const char* name;
    int flags;
    bool needs_root;
    void (*plant)(const std::string& path, const std::string& other);
    bool replaced;        // a new file stands at the path afterwards
    const char* content;  // of the file at the path, after one write of "new"
    mode_t mode;          // of the file at the path
};

TEST(OpenForWriting, NothingPlantedRedirectsOrBlocksTheWrite) {
    const PlantedCase cases[] = {
        {"a FIFO with no reader", O_WRONLY, false,
         [](const std::string& path, const std::string&) {
             ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
         },
         true, "new", 0644},
        {"a hard link, appended to", O_RDWR | O_APPEND, false,
         [](const std::string& path, const std::string& other) {
             ASSERT_EQ(::link(other.c_str(), path.c_str()), 0);
         },
         true, "new", 0644},
        {"another user's file", O_WRONLY, true,
         [](const std::string& path, const std::string&) {
             std::FILE* f = std::fopen(path.c_str(), "w");
             ASSERT_NE(f, nullptr);
             std::fclose(f);
             ASSERT_EQ(::chown(path.c_str(), 1000, 1000), 0);
         },
         true, "new", 0644},
        {"an own file writable by all, appended to", O_RDWR | O_APPEND, false,
         [](const std::string& path, const std::string&) {
             std::FILE* f = std::fopen(path.c_str(), "w");
             ASSERT_NE(f, nullptr);
             std::fputs("old,", f);
             std::fclose(f);
             ASSERT_EQ(::chmod(path.c_str(), 0666), 0);
         },
         true, "old,new", 0644},
    };
    const mode_t old_mask = ::umask(022);
    for (const PlantedCase& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.needs_root && ::geteuid() != 0) {
            ADD_FAILURE() << "giving a file to another user needs root";
            continue;
        }
        TempDir dir;
        const std::string other = dir.write("other", "other");
        const std::string path = dir.path("target");
        c.plant(path, other);
        // Held open, so that the number of the planted inode cannot be
        // given to a new file.
        const int held = ::open(path.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
        ASSERT_GE(held, 0);
        struct stat before {};
        ASSERT_EQ(::fstat(held, &before), 0);

        const int fd = open_for_writing(path.c_str(), c.flags, 0666, (c.flags & O_APPEND) == 0);
        ASSERT_GE(fd, 0) << std::strerror(errno);
        EXPECT_EQ(::write(fd, "new", 3), 3);
        EXPECT_EQ(::fcntl(fd, F_GETFL) & O_NONBLOCK, 0);
        ::close(fd);

        struct stat after {};
        ASSERT_EQ(::lstat(path.c_str(), &after), 0);
        EXPECT_TRUE(S_ISREG(after.st_mode));
        EXPECT_EQ(after.st_ino != before.st_ino, c.replaced);
        ::close(held);
        EXPECT_EQ(after.st_uid, ::geteuid());
        EXPECT_EQ(after.st_mode & 07777, c.mode);
        EXPECT_EQ(dir.read("target"), c.content);
        EXPECT_EQ(dir.read("other"), "other");
        EXPECT_EQ(mode_of(other), 0644u);
    }
    ::umask(old_mask);
}

}  // namespace
}  // namespace quorbix
