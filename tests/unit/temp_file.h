// A settings file in a private temporary directory, removed with its holder.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace quorbix::test {

// Reads the whole file at path (empty when absent).
inline std::string read_file(const std::string& path) {
    std::string out;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f != nullptr) {
        char buf[4096];
        std::size_t n = 0;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) {
            out.append(buf, n);
        }
        std::fclose(f);
    }
    return out;
}

class TempDir {
  public:
    TempDir() {
        char path[] = "/tmp/quorbix-unit-XXXXXX";
        const char* made = ::mkdtemp(path);
        EXPECT_NE(made, nullptr);
        dir_ = made != nullptr ? made : "/tmp";
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    ~TempDir() {
        std::string command = "rm -rf '" + dir_ + "'";
        EXPECT_EQ(std::system(command.c_str()), 0);
    }

    // Full path of name inside the directory.
    std::string path(const std::string& name) const { return dir_ + "/" + name; }

    // Writes bytes to name and returns its full path.
    std::string write(const std::string& name, const std::string& bytes) const {
        std::string p = path(name);
        std::FILE* f = std::fopen(p.c_str(), "wb");
        EXPECT_NE(f, nullptr) << p;
        if (f != nullptr) {
            EXPECT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
            std::fclose(f);
        }
        return p;
    }

    // Reads the whole file name (empty when absent).
    std::string read(const std::string& name) const { return read_file(path(name)); }

  private:
    std::string dir_;
};

}  // namespace quorbix::test
