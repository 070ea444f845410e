// Runs a fuzz target over input files, or every file of input directories,
// without libFuzzer: the g++ build uses it to replay the seed corpus, and
// anyone can use it to rerun a finding under a debugger.
#include <dirent.h>
#include <signal.h>
#include <unistd.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

// Named when the target aborts or faults, so the failing input is known.
const char* Running = "";

void NameTheInput(int signal)
{
    const char prefix[] = "failing input: ";
    (void)!write(2, prefix, sizeof prefix - 1);
    (void)!write(2, Running, std::strlen(Running));
    (void)!write(2, "\n", 1);
    ::signal(signal, SIG_DFL);
    raise(signal);
}

void Collect(const std::string& path, std::vector<std::string>& files)
{
    struct stat info;
    if (stat(path.c_str(), &info) != 0) {
        std::fprintf(stderr, "cannot read %s\n", path.c_str());
        std::exit(2);
    }
    if (!S_ISDIR(info.st_mode)) {
        files.push_back(path);
        return;
    }
    DIR* dir = opendir(path.c_str());
    std::vector<std::string> names;
    while (dirent* entry = readdir(dir)) {
        if (entry->d_name[0] != '.')
            names.push_back(path + "/" + entry->d_name);
    }
    closedir(dir);
    std::sort(names.begin(), names.end());
    for (const std::string& name : names)
        Collect(name, files);
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i)
        Collect(argv[i], files);
    if (files.empty()) {
        std::fprintf(stderr, "usage: %s INPUT-FILE-OR-DIRECTORY...\n", argv[0]);
        return 2;
    }
    for (int caught : {SIGABRT, SIGSEGV, SIGBUS, SIGFPE, SIGILL})
        signal(caught, NameTheInput);
    for (const std::string& file : files) {
        Running = file.c_str();
        std::ifstream in(file, std::ios::binary);
        std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        // An empty vector's data() may be null; libFuzzer never passes null.
        static const uint8_t none = 0;
        LLVMFuzzerTestOneInput(bytes.empty() ? &none : bytes.data(), bytes.size());
    }
    std::printf("%zu inputs ran\n", files.size());
    return 0;
}
