#include "video/JpegConverter.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <link.h>
#include <mutex>
#include <vector>

#include <jerror.h>
#include <jpeglib.h>
#include <turbojpeg.h>

namespace sw {

namespace {

// The TurboJPEG entry points the encoder calls, resolved by name: the program is not linked with it.
struct TTurboLibrary {
    void* Handle = nullptr;
    std::string Path;
    decltype(&tjInitCompress) InitCompress = nullptr;
    decltype(&tjCompress2) Compress2 = nullptr;
    decltype(&tjDestroy) Destroy = nullptr;
    decltype(&tjBufSize) BufSize = nullptr;
    decltype(&tjGetErrorStr2) GetErrorStr2 = nullptr;

    TTurboLibrary() = default;
    TTurboLibrary(const TTurboLibrary&) = delete;
    TTurboLibrary& operator=(const TTurboLibrary&) = delete;
    ~TTurboLibrary() {
        if (Handle) {
            ::dlclose(Handle);
        }
    }
};

std::mutex gIjlLock;
std::shared_ptr<const TTurboLibrary> gIjl;
std::string gIjlName = kIjlLibraryName;

std::shared_ptr<const TTurboLibrary> CurrentIjl() {
    std::lock_guard lock(gIjlLock);
    return gIjl;
}

template <typename T>
void Resolve(void* handle, const char* name, T& entry) {
    entry = reinterpret_cast<T>(::dlsym(handle, name));
}

int ClampQuality(int32_t quality) {
    return std::clamp<int32_t>(quality, 1, 100);
}

} // namespace

bool LoadIjl() {
    std::lock_guard lock(gIjlLock);
    if (gIjl) {
        return true;
    }
    auto library = std::make_shared<TTurboLibrary>();
    library->Handle = ::dlopen(gIjlName.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library->Handle) {
        return false;
    }
    Resolve(library->Handle, "tjInitCompress", library->InitCompress);
    Resolve(library->Handle, "tjCompress2", library->Compress2);
    Resolve(library->Handle, "tjDestroy", library->Destroy);
    Resolve(library->Handle, "tjBufSize", library->BufSize);
    Resolve(library->Handle, "tjGetErrorStr2", library->GetErrorStr2);
    // Calling an entry point that is not there would crash on the first frame; such a library is
    // treated as absent. Only the error text is optional.
    if (!library->InitCompress || !library->Compress2 || !library->Destroy || !library->BufSize) {
        return false;
    }
    link_map* map = nullptr;
    if (::dlinfo(library->Handle, RTLD_DI_LINKMAP, &map) == 0 && map && map->l_name) {
        library->Path = map->l_name;
    }
    gIjl = std::move(library);
    return true;
}

void UnloadIjl() {
    std::shared_ptr<const TTurboLibrary> library;
    {
        std::lock_guard lock(gIjlLock);
        library = std::move(gIjl);
        gIjl.reset();
    }
}

bool IjlAvailable() {
    std::lock_guard lock(gIjlLock);
    return gIjl != nullptr;
}

std::string IjlLibraryPath() {
    std::lock_guard lock(gIjlLock);
    return gIjl ? gIjl->Path : std::string();
}

void SetIjlLibraryName(const std::string& name) {
    std::lock_guard lock(gIjlLock);
    gIjlName = name.empty() ? std::string(kIjlLibraryName) : name;
}

// TurboJPEG's compressor, kept across frames, with the library it came from.
class TJpegConverter::TTurboEncoder {
public:
    explicit TTurboEncoder(std::shared_ptr<const TTurboLibrary> library)
        : FLibrary(std::move(library)), FHandle(FLibrary->InitCompress()) {}
    ~TTurboEncoder() {
        if (FHandle) {
            FLibrary->Destroy(FHandle);
        }
    }
    TTurboEncoder(const TTurboEncoder&) = delete;
    TTurboEncoder& operator=(const TTurboEncoder&) = delete;

    const TTurboLibrary* Library() const { return FLibrary.get(); }

    // Encodes the bottom-up BGR bitmap; the JPEG replaces target's content.
    bool Encode(const TBitmap& bitmap, int quality, TMemoryStream& target, std::string& error) {
        if (!FHandle) {
            error = "TurboJPEG compressor could not be created";
            return false;
        }
        const int width = bitmap.Width();
        const int height = bitmap.Height();
        // Room for the largest picture the library may write: it writes into this block and nowhere else.
        const size_t room = std::max<size_t>(static_cast<size_t>(width) * static_cast<size_t>(height) * 3,
                                             FLibrary->BufSize(width, height, TJSAMP_420));
        target.Clear();
        if (!target.SetSize(room)) {
            error = "no memory for the JPEG";
            return false;
        }
        unsigned char* buffer = target.Memory();
        unsigned long size = room;
        const int result = FLibrary->Compress2(
            FHandle, bitmap.Bits(), width, static_cast<int>(bitmap.Stride()), height, TJPF_BGR, &buffer,
            &size, TJSAMP_420, quality, TJFLAG_BOTTOMUP | TJFLAG_NOREALLOC);
        if (result != 0 || buffer != target.Memory() || size == 0 || size > room) {
            error = std::string("TurboJPEG: ") +
                    (FLibrary->GetErrorStr2 ? FLibrary->GetErrorStr2(FHandle) : "compression failed");
            target.Clear();
            return false;
        }
        target.SetSize(size);
        target.Seek(0, TStream::soEnd);
        return true;
    }

private:
    std::shared_ptr<const TTurboLibrary> FLibrary;
    tjhandle FHandle;
};

// The linked libjpeg, writing straight into a memory stream that keeps its block between frames.
class TJpegConverter::TLibjpegEncoder {
public:
    TLibjpegEncoder() {
        FInfo.err = jpeg_std_error(&FError.Manager);
        FError.Manager.error_exit = ErrorExit;
        FError.Manager.output_message = [](j_common_ptr) {};
        jpeg_create_compress(&FInfo);
        FDestination.Manager.init_destination = InitDestination;
        FDestination.Manager.empty_output_buffer = EmptyOutputBuffer;
        FDestination.Manager.term_destination = TermDestination;
        FInfo.dest = &FDestination.Manager;
    }
    ~TLibjpegEncoder() { jpeg_destroy_compress(&FInfo); }
    TLibjpegEncoder(const TLibjpegEncoder&) = delete;
    TLibjpegEncoder& operator=(const TLibjpegEncoder&) = delete;

    // Encodes the bottom-up BGR bitmap at target's position.
    bool Encode(const TBitmap& bitmap, int quality, TMemoryStream& target, std::string& error) {
        const auto height = static_cast<size_t>(bitmap.Height());
        FRows.resize(height);
        for (size_t y = 0; y < height; ++y) {
            FRows[y] = const_cast<JSAMPROW>(bitmap.ScanLine(static_cast<int32_t>(y)));
        }
        FDestination.Stream = &target;
        FDestination.Guess = std::max<size_t>(65536, static_cast<size_t>(bitmap.Width()) * height / 2);
        if (!Compress(bitmap, quality)) {
            error = std::string("libjpeg: ") + FError.Message;
            return false;
        }
        return true;
    }

private:
    struct TError {
        jpeg_error_mgr Manager;
        std::jmp_buf Jump;
        char Message[JMSG_LENGTH_MAX];
    };
    struct TDestination {
        jpeg_destination_mgr Manager;
        TMemoryStream* Stream = nullptr;
        size_t Start = 0;
        size_t SizeBefore = 0;
        size_t Guess = 0;
    };

    // Nothing with a destructor lives in this frame: a libjpeg error leaves it through longjmp.
    bool Compress(const TBitmap& bitmap, int quality) {
        if (setjmp(FError.Jump) != 0) {
            jpeg_abort_compress(&FInfo);
            return false;
        }
        FInfo.image_width = static_cast<JDIMENSION>(bitmap.Width());
        FInfo.image_height = static_cast<JDIMENSION>(bitmap.Height());
        FInfo.input_components = 3;
        FInfo.in_color_space = JCS_EXT_BGR;
        jpeg_set_defaults(&FInfo);
        jpeg_set_quality(&FInfo, quality, TRUE);
        jpeg_set_colorspace(&FInfo, JCS_YCbCr);
        jpeg_start_compress(&FInfo, TRUE);
        while (FInfo.next_scanline < FInfo.image_height) {
            jpeg_write_scanlines(&FInfo, FRows.data() + FInfo.next_scanline,
                                 FInfo.image_height - FInfo.next_scanline);
        }
        jpeg_finish_compress(&FInfo);
        return true;
    }

    static void ErrorExit(j_common_ptr info) {
        auto* error = reinterpret_cast<TError*>(info->err);
        (*info->err->format_message)(info, error->Message);
        std::longjmp(error->Jump, 1);
    }

    static TDestination& DestinationOf(j_compress_ptr info) {
        return *reinterpret_cast<TDestination*>(info->dest);
    }

    static void InitDestination(j_compress_ptr info) {
        TDestination& d = DestinationOf(info);
        TMemoryStream& stream = *d.Stream;
        d.SizeBefore = stream.StreamSize();
        d.Start = static_cast<size_t>(std::max(stream.Position(), 0));
        if (d.Start > d.SizeBefore) {
            // Past the end: the gap reads as zeros, as a write there would leave it.
            if (!stream.SetSize(d.Start)) {
                ERREXIT(info, JERR_OUT_OF_MEMORY);
            }
            std::memset(stream.Memory() + d.SizeBefore, 0, d.Start - d.SizeBefore);
            d.SizeBefore = d.Start;
        }
        if (!stream.Reserve(d.Start + d.Guess)) {
            ERREXIT(info, JERR_OUT_OF_MEMORY);
        }
        d.Manager.next_output_byte = stream.Memory() + d.Start;
        d.Manager.free_in_buffer = stream.Capacity() - d.Start;
    }

    static boolean EmptyOutputBuffer(j_compress_ptr info) {
        TDestination& d = DestinationOf(info);
        TMemoryStream& stream = *d.Stream;
        // The whole block up to its capacity holds JPEG bytes now; commit them before it grows.
        const size_t written = stream.Capacity();
        if (!stream.SetSize(std::max(written, d.SizeBefore)) || !stream.Reserve(written * 2)) {
            ERREXIT(info, JERR_OUT_OF_MEMORY);
        }
        d.Manager.next_output_byte = stream.Memory() + written;
        d.Manager.free_in_buffer = stream.Capacity() - written;
        return TRUE;
    }

    static void TermDestination(j_compress_ptr info) {
        TDestination& d = DestinationOf(info);
        TMemoryStream& stream = *d.Stream;
        const size_t end = stream.Capacity() - d.Manager.free_in_buffer;
        stream.SetSize(std::max(end, d.SizeBefore));
        stream.Seek(static_cast<int32_t>(end), TStream::soBeginning);
    }

    jpeg_compress_struct FInfo{};
    TError FError{};
    TDestination FDestination{};
    std::vector<JSAMPROW> FRows;
};

TJpegConverter::TJpegConverter() {
    if (!IjlAvailable()) {
        Jpeg = std::make_unique<TLibjpegEncoder>();
    }
}

TJpegConverter::~TJpegConverter() = default;

bool TJpegConverter::ExpandGrey() {
    const TBitmap& grey = *Graphic;
    if (!FExpanded.SetSize(grey.Width(), grey.Height(), 24)) {
        return false;
    }
    for (int32_t y = 0; y < grey.Height(); ++y) {
        const uint8_t* src = grey.ScanLine(y);
        uint8_t* dst = FExpanded.ScanLine(y);
        for (int32_t x = 0; x < grey.Width(); ++x) {
            dst[3 * x] = dst[3 * x + 1] = dst[3 * x + 2] = src[x];
        }
    }
    return true;
}

bool TJpegConverter::ConvertToStream(TStream& stream) {
    FErrorText.clear();
    if (!Graphic || Graphic->Empty()) {
        FErrorText = "no picture to encode";
        return false;
    }
    const TBitmap* source = Graphic;
    if (Graphic->BitsPerPixel() == 8) {
        if (!ExpandGrey()) {
            FErrorText = "no memory for the colour picture";
            return false;
        }
        source = &FExpanded;
    } else if (Graphic->BitsPerPixel() != 24) {
        FErrorText = "unsupported picture of " + std::to_string(Graphic->BitsPerPixel()) + " bits per pixel";
        return false;
    }
    const int quality = ClampQuality(Quality);
    auto* memory = dynamic_cast<TMemoryStream*>(&stream);
    TMemoryStream& target = memory ? *memory : FTemporary;
    if (!memory) {
        FTemporary.Clear();
    }
    bool ok;
    if (std::shared_ptr<const TTurboLibrary> library = CurrentIjl()) {
        FLastUsedIjl = true;
        if (!FTurbo || FTurbo->Library() != library.get()) {
            FTurbo.reset();
            FTurbo = std::make_unique<TTurboEncoder>(std::move(library));
        }
        ok = FTurbo->Encode(*source, quality, target, FErrorText);
    } else {
        FLastUsedIjl = false;
        FTurbo.reset();
        if (!Jpeg) {
            Jpeg = std::make_unique<TLibjpegEncoder>();
        }
        ok = Jpeg->Encode(*source, quality, target, FErrorText);
    }
    if (ok && !memory) {
        const auto size = static_cast<int32_t>(FTemporary.StreamSize());
        if (stream.Write(FTemporary.Memory(), size) != size) {
            FErrorText = "the JPEG could not be written to the stream";
            ok = false;
        }
    }
    return ok;
}

} // namespace sw
