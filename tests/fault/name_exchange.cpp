#include "name_exchange.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace tagsnip::fault {

bool exchangeNames(const std::string& first, const std::string& second) {
    return syscall(SYS_renameat2, AT_FDCWD, first.c_str(), AT_FDCWD, second.c_str(),
                   RENAME_EXCHANGE) == 0;
}

NameExchanger::NameExchanger(std::vector<std::pair<std::string, std::string>> pairs)
    : m_pairs(std::move(pairs)) {
    m_thread = std::thread([this] {
        while (!m_stop.load()) {
            for (const auto& [first, second] : m_pairs) {
                m_exchanges += exchangeNames(first, second) ? 1 : 0;
            }
        }
    });
}

bool visitNamedEvents(int watch, int timeoutMs,
                      const std::function<bool(const char* name)>& visit) {
    pollfd ready{watch, POLLIN, 0};
    if (poll(&ready, 1, timeoutMs) <= 0) {
        return false;
    }
    alignas(inotify_event) char buffer[4096];
    const ssize_t n = read(watch, buffer, sizeof buffer);
    for (ssize_t at = 0; at < n;) {
        const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
        if (event->len > 0 && visit(event->name)) {
            return true;
        }
        at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
    }
    return false;
}

NameExchanger::~NameExchanger() {
    stop();
}

long NameExchanger::stop() {
    m_stop = true;
    if (m_thread.joinable()) {
        m_thread.join();
    }
    return m_exchanges.load();
}

ExchangeOnTouch::ExchangeOnTouch(const std::string& directory,
                                 std::vector<std::pair<std::string, std::string>> pairs)
    : m_pairs(std::move(pairs)), m_watch(inotify_init1(IN_CLOEXEC | IN_NONBLOCK)) {
    inotify_add_watch(m_watch, directory.c_str(), IN_OPEN | IN_ATTRIB);
    m_thread = std::thread([this] {
        while (!m_stop.load()) {
            visitNamedEvents(m_watch, 10, [this](const char* name) {
                for (const auto& [first, second] : m_pairs) {
                    if (first.ends_with(std::string("/") + name)) {
                        m_exchanges += exchangeNames(first, second) ? 1 : 0;
                    }
                }
                return false;
            });
        }
    });
}

ExchangeOnTouch::~ExchangeOnTouch() {
    stop();
}

long ExchangeOnTouch::stop() {
    m_stop = true;
    if (m_thread.joinable()) {
        m_thread.join();
    }
    if (m_watch >= 0) {
        close(m_watch);
        m_watch = -1;
    }
    return m_exchanges.load();
}

}  // namespace tagsnip::fault
