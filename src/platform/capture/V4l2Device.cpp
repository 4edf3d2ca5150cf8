#include "platform/capture/V4l2Device.h"

#include <cerrno>
#include <libv4l2.h>
#include <sys/mman.h>

namespace sw {

namespace {

class TLibV4l2Device : public TV4l2Device {
public:
    int Open(const std::string& path, int flags) override { return v4l2_open(path.c_str(), flags); }
    int Close(int fd) override { return v4l2_close(fd); }
    int Ioctl(int fd, unsigned long request, void* arg) override {
        int result;
        do {
            result = v4l2_ioctl(fd, request, arg);
        } while (result < 0 && errno == EINTR);
        return result;
    }
    void* Mmap(size_t length, int prot, int flags, int fd, int64_t offset) override {
        return v4l2_mmap(nullptr, length, prot, flags, fd, offset);
    }
    int Munmap(void* start, size_t length) override { return v4l2_munmap(start, length); }
    int Poll(pollfd* fds, nfds_t count, int timeoutMs) override { return ::poll(fds, count, timeoutMs); }
};

} // namespace

std::shared_ptr<TV4l2Device> LibV4l2Device() {
    static std::shared_ptr<TV4l2Device> device = std::make_shared<TLibV4l2Device>();
    return device;
}

} // namespace sw
