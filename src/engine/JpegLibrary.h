#pragma once

#include <functional>
#include <string>

namespace sw {

// The JPEG codec that encodes frames, as the "JPEG" report group shows it.
struct TJpegLibraryInfo {
    bool TurboJpeg = false; // the TurboJPEG library is loaded; otherwise the linked libjpeg encodes
    std::string Company;
    std::string Version; // major.minor.patch, empty when the library does not tell
};

inline constexpr const char* kTurboJpegLibrary = "libturbojpeg.so.0";
inline constexpr const char* kTurboJpegCompany = "The libjpeg-turbo Project (TurboJPEG)";
inline constexpr const char* kLibjpegCompany = "The libjpeg-turbo Project (libjpeg)";

// What the report shows. Until a JPEG encoder installs its own source, TurboJPEG counts as loaded when
// kTurboJpegLibrary can be opened and offers a compressor.
TJpegLibraryInfo JpegLibraryInfo();
using TJpegLibrarySource = std::function<TJpegLibraryInfo()>;
// nullptr restores the probe.
void SetJpegLibrarySource(TJpegLibrarySource source);

// The probe itself: opens kTurboJpegLibrary for a moment, else describes the linked libjpeg.
TJpegLibraryInfo ProbeJpegLibrary();

// The version in libjpeg-turbo's "libjpeg-turbo version X.Y.Z" mark inside a library image, or "".
std::string LibjpegTurboVersionMark(const std::string& image);
// The version of the libjpeg headers this program was built with.
std::string LinkedLibjpegHeaderVersion();

} // namespace sw
