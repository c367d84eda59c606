#include "launcher/private_dir.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/unique_fd.h"

namespace quorbix {

namespace {

// Standard-error texts of the refusal; the first "%s" is the path.
constexpr const char kRefuseAbsentFormat[] = "quorbix-launcher: refusing to start: %s is missing\n";
constexpr const char kRefuseUncheckedFormat[] =
    "quorbix-launcher: refusing to start: %s cannot be examined: %s\n";
constexpr const char kRefuseSymlinkFormat[] =
    "quorbix-launcher: refusing to start: %s is a symbolic link\n";
constexpr const char kRefuseNotDirectoryFormat[] =
    "quorbix-launcher: refusing to start: %s is not a directory\n";
constexpr const char kRefuseOwnerFormat[] =
    "quorbix-launcher: refusing to start: %s belongs to uid %u, not to uid %u\n";
constexpr const char kRefuseUnrepairedFormat[] =
    "quorbix-launcher: refusing to start: %s cannot be made writable by its owner alone: %s\n";

// Takes group and other write bits away from the directory examined as st,
// through a descriptor of it, so that nothing put in its place since the
// lstat is changed instead. Returns 0 or an errno.
int repair_mode(const char* path, const struct stat& st) {
    UniqueFd fd(::open(path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd) {
        return errno;
    }
    struct stat now {};
    if (::fstat(fd.get(), &now) != 0) {
        return errno;
    }
    if (now.st_dev != st.st_dev || now.st_ino != st.st_ino || now.st_uid != st.st_uid) {
        return ESTALE;  // another directory took its place
    }
    return ::fchmod(fd.get(), now.st_mode & 07777 & ~mode_t{022}) == 0 ? 0 : errno;
}

}  // namespace

DirCheck check_private_directory(const char* path) {
    struct stat st {};
    if (::lstat(path, &st) != 0) {
        if (errno == ENOENT) {
            return {DirFault::kAbsent, 0, 0};
        }
        return {DirFault::kUnexamined, 0, errno};
    }
    if (S_ISLNK(st.st_mode)) {
        return {DirFault::kSymlink, st.st_uid, 0};
    }
    if (!S_ISDIR(st.st_mode)) {
        return {DirFault::kNotDirectory, st.st_uid, 0};
    }
    if (st.st_uid != ::geteuid()) {
        return {DirFault::kOwner, st.st_uid, 0};
    }
    if ((st.st_mode & 022) != 0) {
        const int error = repair_mode(path, st);
        if (error != 0) {
            return {DirFault::kUnrepaired, st.st_uid, error};
        }
    }
    return {DirFault::kNone, st.st_uid, 0};
}

DirCheck make_private_directory(const char* path) {
    // A failure shows in the check: EEXIST is the usual one, and anything
    // else leaves the path absent or not a directory.
    static_cast<void>(::mkdir(path, 0755));
    return check_private_directory(path);
}

void report_directory_refusal(const char* path, const DirCheck& check) {
    const char* reason = std::strerror(check.error);
    switch (check.fault) {
        case DirFault::kNone:
            return;
        case DirFault::kAbsent:
            static_cast<void>(std::fprintf(stderr, kRefuseAbsentFormat, path));
            return;
        case DirFault::kUnexamined:
            static_cast<void>(std::fprintf(stderr, kRefuseUncheckedFormat, path, reason));
            return;
        case DirFault::kSymlink:
            static_cast<void>(std::fprintf(stderr, kRefuseSymlinkFormat, path));
            return;
        case DirFault::kNotDirectory:
            static_cast<void>(std::fprintf(stderr, kRefuseNotDirectoryFormat, path));
            return;
        case DirFault::kOwner:
            static_cast<void>(std::fprintf(stderr, kRefuseOwnerFormat, path,
                                           static_cast<unsigned>(check.owner),
                                           static_cast<unsigned>(::geteuid())));
            return;
        case DirFault::kUnrepaired:
            static_cast<void>(std::fprintf(stderr, kRefuseUnrepairedFormat, path, reason));
            return;
    }
}

}  // namespace quorbix
