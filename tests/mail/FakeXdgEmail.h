#pragma once

#include "common/TestSupport.h"

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

namespace sw::test {

// Puts a fake xdg-email first on PATH. Each run records its arguments (NUL-separated) and the file
// descriptors it was started with, then exits with the chosen status. PATH is restored on destruction.
class TFakeXdgEmail {
public:
    TFakeXdgEmail() : FOldPath(std::getenv("PATH") ? std::getenv("PATH") : "") {
        std::filesystem::create_directory(FDir.File("bin"));
        Install(0, 0);
        ::setenv("PATH", (FDir.File("bin") + ":" + FOldPath).c_str(), 1);
    }
    ~TFakeXdgEmail() { ::setenv("PATH", FOldPath.c_str(), 1); }
    TFakeXdgEmail(const TFakeXdgEmail&) = delete;
    TFakeXdgEmail& operator=(const TFakeXdgEmail&) = delete;

    // The status the next runs exit with, after sleeping the given seconds.
    void Install(int exitStatus, int sleepSeconds) {
        const std::string script = FDir.File("bin/xdg-email");
        std::filesystem::remove(script);
        WriteFile(script, "#!/bin/bash\n"
                          "ls /proc/$$/fd > '" +
                              FDir.File("fds") +
                              "'\n"
                              "printf '%s\\0' \"$@\" > '" +
                              FDir.File("args.tmp") +
                              "'\n"
                              "mv '" +
                              FDir.File("args.tmp") + "' '" + FDir.File("args") + "'\n" +
                              (sleepSeconds > 0 ? "sleep " + std::to_string(sleepSeconds) + "\n" : "") +
                              "exit " + std::to_string(exitStatus) + "\n");
        std::filesystem::permissions(script, std::filesystem::perms::owner_all);
    }
    // Leaves only an empty folder on PATH: no mail program at all.
    void Remove() {
        std::filesystem::remove(FDir.File("bin/xdg-email"));
        ::setenv("PATH", FDir.File("bin").c_str(), 1);
    }

    bool Ran() const { return std::filesystem::exists(FDir.File("args")); }
    void Forget() { std::filesystem::remove(FDir.File("args")); }

    // The arguments of the last run, without the program name.
    std::vector<std::string> Arguments() const {
        std::vector<std::string> args;
        const std::string content = ReadFile(FDir.File("args"));
        size_t begin = 0;
        for (size_t end = content.find('\0'); end != std::string::npos; end = content.find('\0', begin)) {
            args.push_back(content.substr(begin, end - begin));
            begin = end + 1;
        }
        return args;
    }

    // The descriptor numbers the last run held (the listing's own descriptor included).
    std::vector<int> Descriptors() const {
        std::vector<int> fds;
        std::istringstream in(ReadFile(FDir.File("fds")));
        for (int fd; in >> fd;) {
            fds.push_back(fd);
        }
        return fds;
    }

private:
    TTempDir FDir;
    std::string FOldPath;
};

} // namespace sw::test
