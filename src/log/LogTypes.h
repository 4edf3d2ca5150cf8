#pragma once

#include "platform/shell/DateTime.h"

#include <array>
#include <cstdint>
#include <string>

namespace sw {

enum TLogLevel : uint8_t {
    llInformation = 1,
    llWarning = 2,
    llError = 3,
};

enum TLogCategory : uint8_t {
    lcUnknown = 0,
    lcApplication = 1,
    lcBroadcast = 2,
    lcAudio = 3,
    lcVideo = 4,
    lcWeb = 5,
    lcClient = 6,
    lcPublish = 7,
};

struct TLogCategoryMessage {
    TLogCategory Category;
    const char* Message;
};

constexpr int kLogCategoryCount = 8;
// Numbers 0 to 51 are the original table; later messages are only ever appended, so the numbers in
// existing log files keep their meaning.
constexpr int kLogMessageCount = 62;
constexpr int kOriginalLogMessageCount = 52;

extern const std::array<const char*, kLogCategoryCount> LogCategoryNames;
extern const std::array<TLogCategoryMessage, kLogMessageCount> LogMessages;

// Message numbers, named after their texts (and category where texts repeat).
enum TLogMessage : uint8_t {
    lmStarting = 0,
    lmConfiguration = 1,
    lmException = 2,
    lmVideoError = 3,
    lmVideoInitializing = 4,
    lmVideoFinalizing = 5,
    lmCreateCaptureWindow = 6,
    lmDestroyWindow = 7,
    lmDriverConnect = 8,
    lmDriverDisconnect = 9,
    lmDriverGetCapabilities = 10,
    lmGetStatus = 11,
    lmCaptureGetSetup = 12,
    lmCaptureSetSetup = 13,
    lmGetVideoFormat = 14,
    lmSetCallbackOnError = 15,
    lmSetCallbackOnFrame = 16,
    lmVideoSocketConnect = 17,
    lmVideoSocketDisconnect = 18,
    lmVideoSocketRead = 19,
    lmVideoSocketWrite = 20,
    lmVideoSocketError = 21,
    lmAudioInitializing = 22,
    lmAudioFinalizing = 23,
    lmAudioOpen = 24,
    lmAudioClose = 25,
    lmAudioStart = 26,
    lmAudioStop = 27,
    lmAudioReset = 28,
    lmAudioFormatChoose = 29,
    lmAudioSocketConnect = 30,
    lmAudioSocketDisconnect = 31,
    lmAudioSocketRead = 32,
    lmAudioSocketWrite = 33,
    lmAudioSocketError = 34,
    lmVideoPortInUse = 35,
    lmAudioPortInUse = 36,
    lmWebPortInUse = 37,
    lmStart = 38,
    lmStop = 39,
    lmClientBlock = 40,
    lmClientUnblock = 41,
    lmClientConnect = 42,
    lmClientConnectBlocked = 43,
    lmClientDisconnect = 44,
    lmClientError = 45,
    lmSetUserData = 46,
    lmWebUnknown = 47,
    lmWebGet = 48,
    lmWebPost = 49,
    lmWebPut = 50,
    lmWebHead = 51,
    lmPublishStart = 52,
    lmPublishConnect = 53,
    lmPublishError = 54,
    lmPublishReconnect = 55,
    lmPublishStop = 56,
    lmVideoDeviceLost = 57,
    lmVideoDeviceRestored = 58,
    lmAudioDeviceLost = 59,
    lmAudioDeviceRestored = 60,
    lmFiles = 61,
};

// One log entry on its way from a producer to the main thread.
struct TAMLog {
    TDateTime Time = 0.0;
    uint8_t Level = 0;
    uint8_t Message = 0;
    std::string Detail;
    std::string Values; // already comma text
};

// Category name of a message number; "Unknown" for numbers outside the table.
const char* MessageCategoryName(uint8_t message);
// Text of a message number; "" for numbers outside the table.
const char* MessageText(uint8_t message);
const char* LevelName(uint8_t level);

} // namespace sw
