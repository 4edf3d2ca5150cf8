#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace sw::client {

// Writes a mono WAV file as samples arrive: G.711 mu-law (format 7, 8 bits) or 16-bit linear PCM.
// The sizes in the header are brought up to date by Flush and Finish, so the file is valid after
// each of them even if the program is killed later.
class TWavWriter {
public:
    enum class TEncoding { MuLaw, Pcm16 };

    TWavWriter(TEncoding encoding, uint32_t samplesPerSec);
    ~TWavWriter();
    TWavWriter(const TWavWriter&) = delete;
    TWavWriter& operator=(const TWavWriter&) = delete;

    // Creates or truncates the file and writes the header; false with Error() on failure.
    bool Open(const std::string& fileName);
    // Appends sample bytes already in the file's encoding.
    bool Write(const void* data, size_t size);
    bool Flush();
    // Pads the data chunk to an even size and fixes the header; the file is closed.
    bool Finish();

    uint64_t DataBytes() const { return FDataBytes; }
    const std::string& Error() const { return FError; }
    size_t HeaderBytes() const;

private:
    bool WriteAll(const void* data, size_t size, int64_t offset);
    bool Fail(const std::string& what);

    TEncoding FEncoding;
    uint32_t FSamplesPerSec;
    int FFd = -1;
    std::string FFileName;
    uint64_t FDataBytes = 0;
    bool FPadWritten = false;
    std::string FError;
};

} // namespace sw::client
