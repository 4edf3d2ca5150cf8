#pragma once

#include "video/Bitmap.h"
#include "video/MemoryStream.h"
#include "video/Stream.h"

#include <cstdint>
#include <memory>
#include <string>

namespace sw {

// The fast JPEG library, loaded at start-up when the machine has it: TurboJPEG takes the place of the
// platform JPEG library of the original design. One per process.
inline constexpr const char* kIjlLibraryName = "libturbojpeg.so.0";

// Opens the library unless it is open already and resolves its entry points; true when it is available
// afterwards. A library that lacks an entry point the encoder calls counts as absent.
bool LoadIjl();
// Closes it; an encoder still holding a compressor keeps the library mapped until it lets go.
void UnloadIjl();
// True exactly while the library is loaded.
bool IjlAvailable();
// The file the library was loaded from, "" while it is not.
std::string IjlLibraryPath();
// For tests: the name LoadIjl opens from now on ("" restores kIjlLibraryName).
void SetIjlLibraryName(const std::string& name);

// Turns a picture into a file format written to a stream.
class TGraphicConverter {
public:
    virtual ~TGraphicConverter() = default;

    // The source picture, not owned.
    const TBitmap* Graphic = nullptr;

    // False, with the reason in ErrorText(), when nothing usable was written.
    virtual bool ConvertToStream(TStream& stream) = 0;
    bool Convert(const TBitmap& graphic, TStream& stream) {
        Graphic = &graphic;
        return ConvertToStream(stream);
    }
    const std::string& ErrorText() const { return FErrorText; }

protected:
    std::string FErrorText;
};

// Encodes the bitmap as a baseline colour JPEG (YCbCr, 4:2:0) of the picture upright, through
// TurboJPEG when it is loaded at the time of the call and through the linked libjpeg otherwise. The
// encoder state and its buffers stay from one frame to the next.
class TJpegConverter : public TGraphicConverter {
public:
    TJpegConverter();
    ~TJpegConverter() override;
    TJpegConverter(const TJpegConverter&) = delete;
    TJpegConverter& operator=(const TJpegConverter&) = delete;

    // Percent, 1 to 100; values outside are taken as the nearest end.
    int32_t Quality = 75;

    // With TurboJPEG and a memory stream the JPEG replaces the stream's content; otherwise it is
    // written at the stream's position. Either way the position ends after the JPEG.
    bool ConvertToStream(TStream& stream) override;

    // The encoder that the last conversion used.
    bool LastUsedIjl() const { return FLastUsedIjl; }

private:
    class TLibjpegEncoder;
    class TTurboEncoder;

    bool ExpandGrey();

    std::unique_ptr<TLibjpegEncoder> Jpeg;
    std::unique_ptr<TTurboEncoder> FTurbo;
    TMemoryStream FTemporary;
    // Grey pictures become blue-green-red here first: both encoders write colour JPEGs.
    TBitmap FExpanded;
    bool FLastUsedIjl = false;
};

} // namespace sw
