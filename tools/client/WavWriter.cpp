#include "client/WavWriter.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace sw::client {

namespace {

constexpr uint16_t kFormatPcm = 1;
constexpr uint16_t kFormatMuLaw = 7;
// A WAV data chunk's size is 32-bit; stop short of it rather than write a header that lies.
constexpr uint64_t kMaxDataBytes = 0xFFFFFF00u;

void Put16(std::vector<uint8_t>& out, uint16_t value) {
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

void Put32(std::vector<uint8_t>& out, uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
    }
}

void PutTag(std::vector<uint8_t>& out, const char* tag) {
    out.insert(out.end(), tag, tag + 4);
}

} // namespace

TWavWriter::TWavWriter(TEncoding encoding, uint32_t samplesPerSec)
    : FEncoding(encoding), FSamplesPerSec(samplesPerSec) {}

TWavWriter::~TWavWriter() {
    if (FFd >= 0) {
        Finish();
    }
}

size_t TWavWriter::HeaderBytes() const {
    // Non-PCM formats carry cbSize and a "fact" chunk.
    return FEncoding == TEncoding::MuLaw ? 58 : 44;
}

bool TWavWriter::Fail(const std::string& what) {
    FError = what + " " + FFileName + ": " + std::strerror(errno);
    return false;
}

bool TWavWriter::WriteAll(const void* data, size_t size, int64_t offset) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    size_t done = 0;
    while (done < size) {
        ssize_t n = offset >= 0
                        ? ::pwrite(FFd, bytes + done, size - done, offset + static_cast<int64_t>(done))
                        : ::write(FFd, bytes + done, size - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

bool TWavWriter::Open(const std::string& fileName) {
    FFileName = fileName;
    FFd = ::open(fileName.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (FFd < 0) {
        return Fail("cannot create");
    }
    FDataBytes = 0;
    FPadWritten = false;
    std::vector<uint8_t> header(HeaderBytes(), 0);
    if (!WriteAll(header.data(), header.size(), -1)) {
        return Fail("cannot write");
    }
    return Flush();
}

bool TWavWriter::Write(const void* data, size_t size) {
    if (FFd < 0) {
        return false;
    }
    if (FDataBytes + size > kMaxDataBytes) {
        errno = EFBIG;
        return Fail("cannot write");
    }
    if (!WriteAll(data, size, -1)) {
        return Fail("cannot write");
    }
    FDataBytes += size;
    return true;
}

bool TWavWriter::Flush() {
    if (FFd < 0) {
        return false;
    }
    const bool muLaw = FEncoding == TEncoding::MuLaw;
    const uint16_t bytesPerSample = muLaw ? 1 : 2;
    const uint32_t data = static_cast<uint32_t>(FDataBytes);
    const uint32_t padded = data + (FPadWritten ? (data & 1) : 0);
    std::vector<uint8_t> h;
    PutTag(h, "RIFF");
    Put32(h, static_cast<uint32_t>(HeaderBytes() - 8 + padded));
    PutTag(h, "WAVE");
    PutTag(h, "fmt ");
    Put32(h, muLaw ? 18 : 16);
    Put16(h, muLaw ? kFormatMuLaw : kFormatPcm);
    Put16(h, 1);
    Put32(h, FSamplesPerSec);
    Put32(h, FSamplesPerSec * bytesPerSample);
    Put16(h, bytesPerSample);
    Put16(h, static_cast<uint16_t>(8 * bytesPerSample));
    if (muLaw) {
        Put16(h, 0);
        PutTag(h, "fact");
        Put32(h, 4);
        Put32(h, data);
    }
    PutTag(h, "data");
    Put32(h, data);
    if (!WriteAll(h.data(), h.size(), 0)) {
        return Fail("cannot write");
    }
    return true;
}

bool TWavWriter::Finish() {
    if (FFd < 0) {
        return false;
    }
    bool ok = true;
    if (FDataBytes & 1) {
        const uint8_t pad = 0;
        ok = WriteAll(&pad, 1, -1) || Fail("cannot write");
        FPadWritten = ok;
    }
    ok = Flush() && ok;
    if (::close(FFd) != 0 && ok) {
        ok = Fail("cannot close");
    }
    FFd = -1;
    return ok;
}

} // namespace sw::client
