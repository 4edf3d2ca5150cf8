#include "engine/JpegLibrary.h"

#include "video/JpegConverter.h"

#include <cctype>
#include <cstdio>
#include <dlfcn.h>
#include <fstream>
#include <iterator>
#include <link.h>
#include <memory>

#include <jpeglib.h>

namespace sw {

namespace {

TJpegLibrarySource gJpegLibrarySource;

struct TDlClose {
    void operator()(void* handle) const { ::dlclose(handle); }
};
using TLibraryHandle = std::unique_ptr<void, TDlClose>;

// The library's own file tells its release; the ABI numbers in its file name do not.
std::string VersionOfLibraryFile(const char* fileName) {
    if (!fileName || !*fileName) {
        return {};
    }
    std::ifstream in(fileName, std::ios::binary);
    if (!in) {
        return {};
    }
    const std::string image((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return LibjpegTurboVersionMark(image);
}

TJpegLibraryInfo LinkedLibjpegInfo() {
    TJpegLibraryInfo info;
    info.Company = kLibjpegCompany;
    Dl_info where{};
    if (::dladdr(reinterpret_cast<void*>(&jpeg_std_error), &where) != 0) {
        info.Version = VersionOfLibraryFile(where.dli_fname);
    }
    if (info.Version.empty()) {
        info.Version = LinkedLibjpegHeaderVersion();
    }
    return info;
}

} // namespace

std::string LibjpegTurboVersionMark(const std::string& image) {
    static const std::string kMark = "libjpeg-turbo version ";
    for (size_t at = image.find(kMark); at != std::string::npos; at = image.find(kMark, at + 1)) {
        size_t end = at + kMark.size();
        while (end < image.size() &&
               (std::isdigit(static_cast<unsigned char>(image[end])) || image[end] == '.')) {
            ++end;
        }
        std::string version = image.substr(at + kMark.size(), end - at - kMark.size());
        while (!version.empty() && version.back() == '.') {
            version.pop_back();
        }
        if (!version.empty() && std::isdigit(static_cast<unsigned char>(version.front()))) {
            return version;
        }
    }
    return {};
}

std::string LinkedLibjpegHeaderVersion() {
#ifdef LIBJPEG_TURBO_VERSION_NUMBER
    const int number = LIBJPEG_TURBO_VERSION_NUMBER;
    return std::to_string(number / 1000000) + "." + std::to_string(number / 1000 % 1000) + "." +
           std::to_string(number % 1000);
#else
    return std::to_string(JPEG_LIB_VERSION / 10) + "." + std::to_string(JPEG_LIB_VERSION % 10);
#endif
}

TJpegLibraryInfo ProbeJpegLibrary() {
    TJpegLibraryInfo info;
    TLibraryHandle turbo(::dlopen(kTurboJpegLibrary, RTLD_NOW | RTLD_LOCAL));
    if (turbo && ::dlsym(turbo.get(), "tjInitCompress") && ::dlsym(turbo.get(), "tjCompress2")) {
        info.TurboJpeg = true;
        info.Company = kTurboJpegCompany;
        link_map* map = nullptr;
        if (::dlinfo(turbo.get(), RTLD_DI_LINKMAP, &map) == 0 && map) {
            info.Version = VersionOfLibraryFile(map->l_name);
        }
        return info;
    }
    return LinkedLibjpegInfo();
}

TJpegLibraryInfo EncoderJpegLibraryInfo() {
    if (!IjlAvailable()) {
        return LinkedLibjpegInfo();
    }
    TJpegLibraryInfo info;
    info.TurboJpeg = true;
    info.Company = kTurboJpegCompany;
    info.Version = VersionOfLibraryFile(IjlLibraryPath().c_str());
    return info;
}

TJpegLibraryInfo JpegLibraryInfo() {
    return gJpegLibrarySource ? gJpegLibrarySource() : ProbeJpegLibrary();
}

void SetJpegLibrarySource(TJpegLibrarySource source) {
    gJpegLibrarySource = std::move(source);
}

} // namespace sw
