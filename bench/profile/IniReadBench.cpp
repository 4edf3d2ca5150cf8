// How long loading the settings takes as the INI file grows (a corrupted or hostile file of tens of
// megabytes must not stall start-up): the time per MB for files of 1, 10 and 50 MB, and the ratio of
// the largest to the smallest, which stays near 1 when reading is linear in the file's size.
#include "config/Configuration.h"
#include "platform/profile/IniFile.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

// The settings a program writes, then filler sections and keys up to the size: short lines, or (a
// corrupted file) lines of a megabyte each.
void WriteIni(const std::string& path, size_t bytes, bool longLines) {
    std::string text = "[Video]\r\nEnabled=1\r\nPort=2001\r\n[Audio]\r\nPort=2002\r\n[Web]\r\nEnabled=1\r\n"
                       "Path=/srv/www\r\n[Text]\r\nFormat=3\r\n";
    size_t line = 0;
    while (text.size() < bytes) {
        if (line % 1000 == 0) {
            text += "[Filler" + std::to_string(line / 1000) + "]\r\n";
        }
        text += "Key" + std::to_string(line) + "=some value that a corrupted file might hold " +
                (longLines ? std::string(1000 * 1000, 'v') : std::to_string(line)) + "\r\n";
        ++line;
    }
    text += "[Log]\r\nInformation=1\r\n[Blocked]\r\n10.0.0.1=1\r\n";
    std::ofstream(path, std::ios::binary) << text;
}

// CPU time of this process: the machine is shared, and waiting for it is not the reader's cost.
double CpuSeconds() {
    timespec now{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

double LoadSeconds(const std::string& path) {
    double best = 1e9;
    for (int run = 0; run < 3; ++run) {
        const double start = CpuSeconds();
        sw::TConfiguration configuration(path);
        configuration.Reload();
        sw::TIniFile blocked(path);
        volatile size_t names = blocked.ReadKeyNames("Blocked").size();
        (void)names;
        best = std::min(best, CpuSeconds() - start);
    }
    return best;
}

} // namespace

int main() {
    char folder[] = "/tmp/sw-ini-bench-XXXXXX";
    if (!::mkdtemp(folder)) {
        return 1;
    }
    const std::string path = std::string(folder) + "/bench.ini";
    // Device enumeration and the rest of a load cost the same whatever the file's size.
    WriteIni(path, 0, false);
    const double baseline = LoadSeconds(path);
    std::printf("settings alone: load %.1f ms CPU\n", baseline * 1000.0);
    for (bool longLines : {false, true}) {
        std::printf("%s:\n", longLines ? "lines of 1 MB" : "short lines");
        double perMbSmallest = 0;
        double perMbLargest = 0;
        for (size_t megabytes : {1, 10, 50}) {
            WriteIni(path, megabytes * 1000 * 1000, longLines);
            const double seconds = LoadSeconds(path);
            const double perMb = std::max(seconds - baseline, 1e-6) * 1000.0 / static_cast<double>(megabytes);
            std::printf("%3zu MB: load %8.1f ms CPU, %7.2f ms per MB beyond the settings alone\n", megabytes,
                        seconds * 1000.0, perMb);
            perMbSmallest = perMbSmallest == 0 ? perMb : perMbSmallest;
            perMbLargest = perMb;
        }
        std::printf("time per MB at 50 MB / at 1 MB: %.2f\n", perMbLargest / perMbSmallest);
    }
    ::unlink(path.c_str());
    ::rmdir(folder);
    return 0;
}
