// The launcher's directories under the shared /tmp. Whoever could write in
// /tmp/quorbix or its etc could swap a staged script that the daemon runs as
// root, or a link that steers the launcher's removals: each is used only as a
// real directory of the launcher's own user that nobody else can write.
#pragma once

#include <sys/types.h>

namespace quorbix {

// Why a directory may not be used.
enum class DirFault {
    kNone,          // a directory of the launcher's own user, writable by it alone
    kAbsent,        // nothing there, where something should have been made
    kUnexamined,    // lstat failed for another reason (error holds it)
    kSymlink,       // writes and removals would land where it points
    kNotDirectory,  // a file, FIFO or the like
    kOwner,         // another user's (owner holds it): that user could swap the files
    kUnrepaired,    // its group or other write bits could not be taken away (error holds it)
};

// The result of one check, with what the refusal message names.
struct DirCheck {
    DirFault fault = DirFault::kNone;
    uid_t owner = 0;
    int error = 0;
};

// Checks the directory at path for the launcher's effective user: it must be
// there, a directory and not a link or anything else, and owned by that user;
// group or other write bits are taken away through a descriptor of that very
// directory.
DirCheck check_private_directory(const char* path);

// Makes path with mode 0755 (before the umask) unless something is there,
// then checks it as check_private_directory does.
DirCheck make_private_directory(const char* path);

// Says on standard error why the run refuses to use path.
void report_directory_refusal(const char* path, const DirCheck& check);

}  // namespace quorbix
