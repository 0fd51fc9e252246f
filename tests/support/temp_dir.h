#pragma once

#include <sys/types.h>

#include <string>

namespace tagsnip::test {

// A fresh directory per test, removed with everything in it afterwards. path() ends with "/".
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return m_path; }
    std::string operator/(const std::string& relative) const { return m_path + relative; }

private:
    std::string m_path;
};

void writeFile(const std::string& path, const std::string& bytes, mode_t mode = 0644);
std::string readFile(const std::string& path);
bool exists(const std::string& path);
mode_t modeOf(const std::string& path);
void makeDirectory(const std::string& path, mode_t mode = 0755);
// Sets or clears an inode flag (FS_IMMUTABLE_FL, FS_APPEND_FL); false where that is refused.
bool setInodeFlag(const std::string& path, unsigned flag, bool on);
// The names in a directory, sorted.
std::string listNames(const std::string& directory);

}  // namespace tagsnip::test
