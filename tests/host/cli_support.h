// Running the built `zevrin` from host tests: the binary's path, and a
// shell command run in a test folder with its exit status and output.
#pragma once

#include <algorithm>
#include <cstdio>
#include <dirent.h>
#include <cstdlib>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "test_support.h"

inline std::string Binary()
{
#ifdef ZEVRIN_BINARY
    return ZEVRIN_BINARY;
#else
    const char* path = std::getenv("ZEVRIN_BINARY");
    return path ? path : "";
#endif
}

struct Outcome {
    int status; // exit status, or -1 when the process did not exit normally
    std::string out;
    std::string err;
};

inline std::string Text(const std::vector<uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

// Runs a shell command line in `dir`, "ZEVRIN" standing for the binary,
// with no standard input. Its output is caught outside `dir`, so tests can
// check what the tool left there.
inline Outcome RunShell(const TempDir& dir, std::string command)
{
    const std::string binary = "'" + Binary() + "'";
    for (size_t at; (at = command.find("ZEVRIN")) != std::string::npos;)
        command.replace(at, 6, binary);
    char out[] = "/tmp/zevrin-cli-out-XXXXXX";
    char err[] = "/tmp/zevrin-cli-err-XXXXXX";
    int outFd = mkstemp(out), errFd = mkstemp(err);
    if (outFd >= 0)
        close(outFd);
    if (errFd >= 0)
        close(errFd);
    int raw = std::system(("cd '" + dir.Path() + "' && (" + command + ") > '" + out + "' 2> '" + err +
                           "' < /dev/null")
                              .c_str());
    Outcome o{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, Text(ReadBytes(out)), Text(ReadBytes(err))};
    std::remove(out);
    std::remove(err);
    return o;
}

// The names in a folder, sorted, without "." and "..".
inline std::vector<std::string> Listing(const std::string& path)
{
    std::vector<std::string> names;
    if (DIR* d = opendir(path.c_str())) {
        while (dirent* e = readdir(d))
            if (std::string(e->d_name) != "." && std::string(e->d_name) != "..")
                names.push_back(e->d_name);
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}
