#include "common/file_io.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

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
    EXPECT_EQ(mode_of(path), 0666u);
    // An existing readable file becomes private when an exact mode is asked.
    EXPECT_TRUE(file_write_bytes(path.c_str(), "k", 1, 0600, true));
    EXPECT_EQ(mode_of(path), 0600u);
    EXPECT_EQ(dir.read("bin"), "k");
    ::umask(old_mask);
}

TEST(FileWriteBytes, AFailedWriteLeavesNoFile) {
    TempDir dir;
    const std::string missing_dir = dir.path("no/such/file");
    EXPECT_FALSE(file_write_bytes(missing_dir.c_str(), "x", 1));

    // A file size limit makes the write stop short, as a full disk would.
    const std::string path = dir.path("short");
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{4096, 4096};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        const std::string big(100000, 'b');
        bool ok = file_write_bytes(path.c_str(), big.data(), big.size());
        ::_exit(ok ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << "the short write was not reported";
    EXPECT_EQ(::access(path.c_str(), F_OK), -1) << "a partial file was left behind";
}

TEST(StageFile, EmptyDecodingCreatesNoFileAndRemovesAStaleOne) {
    TempDir dir;
    const std::string path = dir.write("stale.crt", "old");
    EXPECT_TRUE(stage_file(path.c_str(), "=== \n"));
    EXPECT_EQ(::access(path.c_str(), F_OK), -1);
    EXPECT_TRUE(stage_file(path.c_str(), "AGFi"));  // "\0ab"
    EXPECT_EQ(dir.read("stale.crt"), std::string("\0ab", 3));
}

}  // namespace
}  // namespace quorbix
