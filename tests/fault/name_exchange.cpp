#include "name_exchange.h"

#include <fcntl.h>
#include <linux/fs.h>
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

}  // namespace tagsnip::fault
