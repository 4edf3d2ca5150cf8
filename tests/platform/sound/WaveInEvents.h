#pragma once

#include "platform/shell/ThreadHandOff.h"
#include "platform/sound/WaveIn.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QObject>
#include <chrono>
#include <vector>

namespace sw::test {

// A recording buffer and its header.
struct TBuffer {
    std::vector<uint8_t> Data;
    TWaveHdr Header;
    explicit TBuffer(size_t bytes) : Data(bytes) {
        Header.lpData = Data.data();
        Header.dwBufferLength = static_cast<uint32_t>(bytes);
    }
};

// Collects the notifications of a device as the main thread receives them.
class TWaveInEvents : public QObject {
public:
    struct TNotification {
        uint32_t Message;
        uint64_t Handle;
        TWaveHdr* Header;
        std::chrono::steady_clock::time_point Received;
    };

    std::vector<TNotification> Notifications;
    // Called for each MM_WIM_DATA as it arrives (e.g. to queue the buffer again).
    std::function<void(TWaveHdr*)> OnData;

    size_t Count(uint32_t message) const {
        size_t count = 0;
        for (const auto& n : Notifications) {
            count += n.Message == message;
        }
        return count;
    }

    // Runs the event loop until count data notifications arrived or timeoutMs passed.
    bool WaitForData(size_t count, int timeoutMs = 10000) {
        QDeadlineTimer deadline(timeoutMs);
        while (Count(MM_WIM_DATA) < count && !deadline.hasExpired()) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        }
        return Count(MM_WIM_DATA) >= count;
    }

    void Drain() {
        for (int i = 0; i < 5; ++i) {
            QCoreApplication::processEvents();
        }
    }

protected:
    bool event(QEvent* event) override {
        TakeOverFromThread(event);
        for (uint32_t message : {MM_WIM_OPEN, MM_WIM_CLOSE, MM_WIM_DATA}) {
            if (event->type() == WaveInEventType(message)) {
                const auto& notification = static_cast<const TWaveInEvent&>(*event);
                Notifications.push_back({notification.Message, notification.Handle, notification.Header,
                                         std::chrono::steady_clock::now()});
                if (message == MM_WIM_DATA && OnData) {
                    OnData(notification.Header);
                }
                return true;
            }
        }
        return QObject::event(event);
    }
};

inline TWaveFormatEx Pcm(uint32_t rate, uint16_t bits, uint16_t channels) {
    TWaveFormatEx format;
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nSamplesPerSec = rate;
    format.wBitsPerSample = bits;
    format.nChannels = channels;
    format.nBlockAlign = static_cast<uint16_t>(channels * bits / 8);
    format.nAvgBytesPerSec = format.nBlockAlign * rate;
    return format;
}

} // namespace sw::test
