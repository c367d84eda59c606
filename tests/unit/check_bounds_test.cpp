// One file never sinks the run: a file over the bound the checker reads, or
// one it has no memory for, is reported as unreadable and every other file
// is still checked; a file is read up to the size it had when opened, and a
// pipe up to the bound.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "check/cli/inputs.h"
#include "check_cli.h"
#include "temp_file.h"

namespace quorbix {
namespace {

using test::CliRun;
using test::run_check;

const char kSound[] =
    "QUORBIX_ENABLE=1\nQUORBIX_CSV=TWFu\nQUORBIX_MQTT_ADDR=h\nQUORBIX_MQTT_PORT=1883\n"
    "QUORBIX_CLIENT_ID=c\n";

// A folder "fleet" with two sound files around `huge`, a sparse file of
// `size` bytes: it costs no disk space.
struct FleetWithHugeFile {
    test::TempDir dir;
    std::string path = dir.path("fleet");

    explicit FleetWithHugeFile(std::uint64_t size) {
        EXPECT_EQ(::mkdir(path.c_str(), 0755), 0);
        dir.write("fleet/a", kSound);
        dir.write("fleet/z", kSound);
        const std::string huge = dir.write("fleet/huge", "");
        EXPECT_EQ(::truncate(huge.c_str(), static_cast<off_t>(size)), 0) << huge;
    }
};

TEST(CheckBounds, AFileOverTheBoundIsReportedAndTheOthersAreChecked) {
    const std::uint64_t kGiB = std::uint64_t{1} << 30;
    const std::pair<std::uint64_t, const char*> rows[] = {
        {100 * kGiB,
         "too large to check: the file is 107374182400 bytes, more than the 536870912 the checker "
         "reads; the launcher reads so large a file through a window"},
        {(std::uint64_t{512} << 20) + 1,
         "too large to check: the file is 536870913 bytes, more than the 536870912 the checker "
         "reads; the launcher reads so large a file through a window"},
    };
    for (const auto& [size, why] : rows) {
        SCOPED_TRACE(size);
        const FleetWithHugeFile fleet(size);
        const CliRun human = run_check({fleet.path});
        EXPECT_EQ(human.status, 2);
        EXPECT_EQ(human.err, "");
        EXPECT_NE(human.out.find(fleet.path + "/huge:1:1: error: cannot read: " + why +
                                 " [unreadable]\n"),
                  std::string::npos)
            << human.out;
        EXPECT_NE(human.out.find("/fleet/a: outcome: the launcher starts"), std::string::npos);
        EXPECT_NE(human.out.find("/fleet/z: outcome: the launcher starts"), std::string::npos);
        EXPECT_NE(human.out.find("3 files: 2 start, 0 refused, 0 disabled, 1 unreadable;"),
                  std::string::npos)
            << human.out;

        const CliRun json = run_check({"--json", fleet.path});
        EXPECT_EQ(json.status, 2);
        const nlohmann::json doc = nlohmann::json::parse(json.out, nullptr, false);
        ASSERT_FALSE(doc.is_discarded());
        ASSERT_EQ(doc["files"].size(), 3U);
        EXPECT_EQ(doc["files"][1]["error"], "cannot read: " + std::string(why));
        EXPECT_EQ(doc["files"][1]["findings"][0]["code"], "unreadable");
        EXPECT_EQ(doc["files"][2]["outcome"]["action"], "start");
    }
}

// A file is read up to the size it had when opened: what it grows by after
// is not read, and one that shrank is read to its end. A pipe is read up to
// the bound.
TEST(CheckBounds, ReadUpToTheSizeAtOpenOrTheBound) {
    const test::TempDir dir;
    const std::string ten = dir.write("ten", "0123456789");
    struct Row {
        const char* what;
        std::optional<std::uint64_t> size_at_open;
        std::uint64_t bound;
        bool read;
        const char* bytes_or_why;
    };
    const Row rows[] = {
        {"grown since it was opened", 4, 100, true, "0123"},
        {"shrunk since it was opened", 20, 100, true, "0123456789"},
        {"as large as the bound", 10, 10, true, "0123456789"},
        {"over the bound", 11, 10, false,
         "too large to check: the file is 11 bytes, more than the 10 the checker reads"},
        {"a pipe as large as the bound", std::nullopt, 10, true, "0123456789"},
        {"a pipe over the bound", std::nullopt, 9, false,
         "too large to check: more than the 9 bytes the checker reads"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        int fd = -1;
        int pipe_ends[2] = {-1, -1};
        if (row.size_at_open) {
            fd = ::open(ten.c_str(), O_RDONLY);
        } else {
            ASSERT_EQ(::pipe(pipe_ends), 0);
            ASSERT_EQ(::write(pipe_ends[1], "0123456789", 10), 10);
            ::close(pipe_ends[1]);
            fd = pipe_ends[0];
        }
        ASSERT_GE(fd, 0);
        std::string bytes;
        std::string why;
        EXPECT_EQ(read_bounded(fd, row.size_at_open, row.bound, &bytes, &why), row.read);
        ::close(fd);
        if (row.read) {
            EXPECT_EQ(bytes, row.bytes_or_why);
        } else {
            // The reason, as far as the launcher's part, which a small bound does not reach.
            EXPECT_EQ(why.substr(0, std::string(row.bytes_or_why).size()), row.bytes_or_why);
        }
    }
}

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

// The address space this process maps now, in bytes.
std::uint64_t mapped_now() {
    const std::string status = test::read_file("/proc/self/status");
    const std::size_t at = status.find("VmSize:");
    return at == std::string::npos ? 0 : std::strtoull(status.c_str() + at + 7, nullptr, 10) << 10;
}

// Lowers this process's address-space limit until destroyed.
class AddressSpaceLimit {
  public:
    explicit AddressSpaceLimit(std::uint64_t bytes) {
        ok_ = ::getrlimit(RLIMIT_AS, &saved_) == 0;
        rlimit lower = saved_;
        lower.rlim_cur = static_cast<rlim_t>(bytes);
        ok_ = ok_ && ::setrlimit(RLIMIT_AS, &lower) == 0;
    }
    AddressSpaceLimit(const AddressSpaceLimit&) = delete;
    AddressSpaceLimit& operator=(const AddressSpaceLimit&) = delete;
    ~AddressSpaceLimit() {
        if (ok_) {
            ::setrlimit(RLIMIT_AS, &saved_);
        }
    }
    [[nodiscard]] bool ok() const { return ok_; }

  private:
    rlimit saved_{};
    bool ok_ = false;
};

// A file that no memory is left for, within the bound, is reported and the
// run goes on.
TEST(CheckBounds, AFileWithNoMemoryLeftForItIsReportedAndTheOthersAreChecked) {
    if (kSanitized) {
        GTEST_SKIP() << "AddressSanitizer ends the process where an allocation fails";
    }
    constexpr std::uint64_t kSize = std::uint64_t{400} << 20;
    const FleetWithHugeFile fleet(kSize);
    CliRun r;
    {
        const AddressSpaceLimit limit(mapped_now() + (std::uint64_t{192} << 20));
        ASSERT_TRUE(limit.ok());
        // An emulator of the cross builds may not pass the limit on.
        void* probe = std::malloc(static_cast<std::size_t>(std::uint64_t{300} << 20));
        if (probe != nullptr) {
            std::free(probe);
            GTEST_SKIP() << "the address-space limit is not enforced here";
        }
        r = run_check({fleet.path});
    }
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "");
    EXPECT_NE(r.out.find(fleet.path +
                         "/huge:1:1: error: cannot read: too large to check: no memory is left to "
                         "hold and check its 419430400 bytes; the launcher reads so large a file "
                         "through a window [unreadable]\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("3 files: 2 start, 0 refused, 0 disabled, 1 unreadable;"),
              std::string::npos)
        << r.out;
}

}  // namespace
}  // namespace quorbix
