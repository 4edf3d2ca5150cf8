#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <poll.h>
#include <string>

namespace sw {

// The calls the V4L2 driver makes, so that tests can put a fake camera in place of libv4l2. Results and
// errno follow the system calls of the same names.
class TV4l2Device {
public:
    virtual ~TV4l2Device() = default;

    virtual int Open(const std::string& path, int flags) = 0;
    virtual int Close(int fd) = 0;
    virtual int Ioctl(int fd, unsigned long request, void* arg) = 0;
    virtual void* Mmap(size_t length, int prot, int flags, int fd, int64_t offset) = 0;
    virtual int Munmap(void* start, size_t length) = 0;
    virtual int Poll(pollfd* fds, nfds_t count, int timeoutMs) = 0;
};

// libv4l2: any camera's frames converted to the formats it offers besides the native ones.
std::shared_ptr<TV4l2Device> LibV4l2Device();

} // namespace sw
