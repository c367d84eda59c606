// Runs a fuzz target over every file of the directories and files given, for
// compilers without libFuzzer and for the device build under the emulator.
#include <dirent.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
struct DirCloser {
    void operator()(DIR* d) const { ::closedir(d); }
};

bool run_file(const std::string& path) {
    std::unique_ptr<std::FILE, FileCloser> f(std::fopen(path.c_str(), "rb"));
    if (!f) {
        std::fprintf(stderr, "cannot read %s\n", path.c_str());
        return false;
    }
    std::vector<std::uint8_t> bytes;
    std::uint8_t buf[65536];
    std::size_t n = 0;
    while ((n = std::fread(buf, 1, sizeof buf, f.get())) > 0) {
        bytes.insert(bytes.end(), buf, buf + n);
    }
    const bool read_ok = std::ferror(f.get()) == 0;
    f.reset();
    if (!read_ok) {
        std::fprintf(stderr, "cannot read %s\n", path.c_str());
        return false;
    }
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    int count = 0;
    bool ok = true;
    for (int i = 1; i < argc; ++i) {
        struct stat st {};
        if (::stat(argv[i], &st) != 0) {
            std::fprintf(stderr, "no such corpus: %s\n", argv[i]);
            ok = false;
            continue;
        }
        if (!S_ISDIR(st.st_mode)) {
            ok = run_file(argv[i]) && ok;
            ++count;
            continue;
        }
        std::unique_ptr<DIR, DirCloser> dir(::opendir(argv[i]));
        if (!dir) {
            std::fprintf(stderr, "cannot list %s\n", argv[i]);
            ok = false;
            continue;
        }
        while (dirent* e = ::readdir(dir.get())) {
            if (e->d_name[0] != '.') {
                ok = run_file(std::string(argv[i]) + "/" + e->d_name) && ok;
                ++count;
            }
        }
    }
    std::printf("replayed %d inputs\n", count);
    return ok && count > 0 ? 0 : 1;
}
