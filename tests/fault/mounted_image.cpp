#include "mounted_image.h"

#include <sys/mount.h>

#include <cstdlib>

namespace tagsnip::fault {

Mount::~Mount() {
    if (m_mounted) {
        umount2(m_point.c_str(), MNT_DETACH);
    }
    if (!m_afterwards.empty()) {
        (void)std::system(m_afterwards.c_str());
    }
}

bool Mount::byCommand(const std::string& command) {
    m_mounted = std::system((command + " >/dev/null 2>&1").c_str()) == 0;
    return m_mounted;
}

bool Mount::bySystemCall(const char* source, const char* type, unsigned long flags,
                         const char* data) {
    m_mounted = mount(source, m_point.c_str(), type, flags, data) == 0;
    return m_mounted;
}

bool mountImage(Mount& mount, const std::string& image, const std::string& mkfs,
                const std::string& driver, const std::string& point, bool loop) {
    const std::string make = "truncate -s 64M '" + image + "' && " + mkfs + " '" + image + "'";
    if (std::system((make + " >/dev/null 2>&1").c_str()) != 0) {
        return false;
    }
    if (!loop) {
        return mount.byCommand(driver + " '" + image + "' '" + point + "'");
    }
    mount.m_afterwards = "losetup -j '" + image + "' -n -O NAME | xargs -r losetup -d";
    return mount.byCommand("dev=$(losetup -f --show '" + image + "') && " + driver + " \"$dev\" '" +
                           point + "'");
}

}  // namespace tagsnip::fault
