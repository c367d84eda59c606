// Owning handles for the descriptors and streams the launcher opens, so that
// every path out of a function closes what it opened.
#pragma once

#include <unistd.h>

#include <cstdio>

namespace quorbix {

// Owns one file descriptor; closes it when destroyed unless released.
class UniqueFd {
  public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            reset(other.release());
        }
        return *this;
    }
    ~UniqueFd() { reset(); }

    [[nodiscard]] int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    int release() {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }
    // Closes the held descriptor (if any) and takes fd; returns the result of
    // that close, which callers that wrote through the descriptor must check.
    int reset(int fd = -1) {
        int rc = 0;
        if (fd_ >= 0) {
            rc = ::close(fd_);
        }
        fd_ = fd;
        return rc;
    }

  private:
    int fd_ = -1;
};

// Owns one stdio stream; closes it when destroyed unless released.
class UniqueFile {
  public:
    UniqueFile() = default;
    explicit UniqueFile(std::FILE* file) : file_(file) {}
    UniqueFile(const UniqueFile&) = delete;
    UniqueFile& operator=(const UniqueFile&) = delete;
    ~UniqueFile() {
        if (file_ != nullptr) {
            static_cast<void>(std::fclose(file_));
        }
    }

    [[nodiscard]] std::FILE* get() const { return file_; }
    explicit operator bool() const { return file_ != nullptr; }
    // Closes the stream now and reports whether everything buffered reached
    // the file.
    bool close() {
        std::FILE* file = file_;
        file_ = nullptr;
        return file == nullptr || std::fclose(file) == 0;
    }

  private:
    std::FILE* file_ = nullptr;
};

}  // namespace quorbix
