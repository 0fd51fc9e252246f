#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace tagsnip::fault {

// Swaps both names atomically (renameat2 RENAME_EXCHANGE): at every instant each name exists.
bool exchangeNames(const std::string& first, const std::string& second);

// Waits up to timeoutMs for events on an inotify descriptor and hands the name of each event
// that has one to visit; true as soon as visit says so.
bool visitNamedEvents(int watch, int timeoutMs, const std::function<bool(const char* name)>& visit);

// Exchanges each pair of names over and over on a thread of its own until stopped, so that a
// directory or a file turns into a link and back again at any moment of a run.
class NameExchanger {
public:
    explicit NameExchanger(std::vector<std::pair<std::string, std::string>> pairs);
    ~NameExchanger();
    NameExchanger(const NameExchanger&) = delete;
    NameExchanger& operator=(const NameExchanger&) = delete;

    // Stops, leaving every pair either exchanged or not, and gives the number of exchanges done.
    long stop();

private:
    std::vector<std::pair<std::string, std::string>> m_pairs;
    std::atomic<bool> m_stop{false};
    std::atomic<long> m_exchanges{0};
    std::thread m_thread;
};

// Exchanges a pair the moment someone opens the first name or changes its attributes (inotify on
// directory), so that whatever the toucher does next through that name meets the other entry.
class ExchangeOnTouch {
public:
    ExchangeOnTouch(const std::string& directory,
                    std::vector<std::pair<std::string, std::string>> pairs);
    ~ExchangeOnTouch();
    ExchangeOnTouch(const ExchangeOnTouch&) = delete;
    ExchangeOnTouch& operator=(const ExchangeOnTouch&) = delete;

    long stop();

private:
    std::vector<std::pair<std::string, std::string>> m_pairs;
    int m_watch = -1;
    std::atomic<bool> m_stop{false};
    std::atomic<long> m_exchanges{0};
    std::thread m_thread;
};

}  // namespace tagsnip::fault
