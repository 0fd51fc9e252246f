#pragma once

#include <string>

namespace tagsnip::fault {

// A file system mounted for one test, through a command (FUSE drivers) or mount(2).
class Mount {
public:
    explicit Mount(std::string point) : m_point(std::move(point)) {}
    ~Mount();
    Mount(const Mount&) = delete;
    Mount& operator=(const Mount&) = delete;

    bool byCommand(const std::string& command);
    bool bySystemCall(const char* source, const char* type, unsigned long flags, const char* data);

    // Run once unmounted, to let go of a loop device.
    std::string m_afterwards;

private:
    std::string m_point;
    bool m_mounted = false;
};

// An image formatted by mkfs and mounted by a FUSE driver, through a loop device for drivers
// that want a block device.
bool mountImage(Mount& mount, const std::string& image, const std::string& mkfs,
                const std::string& driver, const std::string& point, bool loop);

}  // namespace tagsnip::fault
