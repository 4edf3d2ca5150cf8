#pragma once

namespace sw {

// Every custom Qt event type of the program, in one table: Qt only reserves the range from
// QEvent::User (1000) to QEvent::MaxUser (65535), so nothing but this table keeps two kinds apart.
enum TCustomEvent : int {
    // The design's window messages: the user message base and its first five numbers.
    kEventUserBase = 1024,
    kEventInitializeDevices = 1025,
    kEventConnectionsChanged = 1026,
    kEventLogChanged = 1027,
    kEventSystemInfoChanged = 1028,
    kEventLogEntry = 1029,
    // The capture window's wake-up: serve the requests the video thread queued.
    kEventCaptureServe = 1500,
    // A web connection handed over to the engine for a live resource.
    kEventLiveHandOver = 1501,
    // Sound input notifications: this base plus the waveIn message number (MM_WIM_OPEN 0x3BE to
    // MM_WIM_DATA 0x3C0, and our own MM_WIM_FAILED 0x3C1, so 1958 to 1961).
    kEventWaveInBase = 1000,
    kEventWaveInFirst = kEventWaveInBase + 0x3BE,
    kEventWaveInLast = kEventWaveInBase + 0x3C1,
};

static_assert(kEventLogEntry < kEventCaptureServe && kEventLiveHandOver < kEventWaveInFirst,
              "custom event types overlap");
static_assert(kEventWaveInLast <= 65535, "custom event types must stay below QEvent::MaxUser");

} // namespace sw
