#pragma once

#include <string>

namespace tagsnip {

// Where a run records its start directory ("Last Directory"). The run calls it only while
// SaveSettings is set.
class StartDirectoryStore {
public:
    virtual ~StartDirectoryStore() = default;
    virtual void WriteStartDirectory(const std::string& directory) = 0;
};

// For hosts that keep no settings.
class NoStartDirectoryStore final : public StartDirectoryStore {
public:
    void WriteStartDirectory(const std::string&) override {}
};

}  // namespace tagsnip
