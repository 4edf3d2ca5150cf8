#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace sw {

class TCaptureDriver;

// Capture driver indexes run from 0 to 9.
constexpr int kCaptureDriverCount = 10;

enum class TCaptureDriverKind { V4l2, TestPattern };

struct TCaptureDriverEntry {
    TCaptureDriverKind Kind = TCaptureDriverKind::TestPattern;
    std::string DevicePath; // /dev/videoN for V4L2 devices
    std::string Name;
    std::string Version;
    // What names the same device after it was unplugged and plugged in again, when its /dev/videoN
    // and its place in the table may have changed: its /dev/v4l/by-id link, else its bus and card.
    std::string StableId;
};

// The driver table: the machine's V4L2 capture devices in /dev/video order, then the built-in test
// pattern generator, at most kCaptureDriverCount entries. Scanned afresh on every call.
std::vector<TCaptureDriverEntry> CaptureDriverEntries();

// Name and version text of the driver at index; false when there is none.
bool capGetDriverDescription(int index, std::string& name, std::string& version);

inline constexpr const char* kTestPatternName = "Test Pattern";

// What the driver of an entry offers, one line per pixel format and size with its frame rates; a V4L2
// device is opened only to ask, not streamed from. Empty when the device cannot be opened.
std::vector<std::string> CaptureDriverFormats(const TCaptureDriverEntry& entry);

// Opens the driver at index of the table; nothing for an index without a driver or a device that
// cannot be set up.
std::unique_ptr<TCaptureDriver> ConnectCaptureDriver(uint32_t index);
// The same for the entry whose StableId is stableId, wherever it is in the table now; the driver
// reports deviceIndex as its index.
std::unique_ptr<TCaptureDriver> ConnectCaptureDriverById(const std::string& stableId, uint32_t deviceIndex);
// The StableId of the entry at index; "" for an index without a driver.
std::string CaptureDriverStableId(uint32_t index);

} // namespace sw
