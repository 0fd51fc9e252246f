#pragma once

#include <array>
#include <streambuf>

namespace tagsnip::cli {

// A buffered stream over a file descriptor that remembers why a write failed, so that the
// program can say it ("No space left on device") instead of only noticing that it did.
class DescriptorOutput final : public std::streambuf {
public:
    explicit DescriptorOutput(int descriptor);
    ~DescriptorOutput() override;
    DescriptorOutput(const DescriptorOutput&) = delete;
    DescriptorOutput& operator=(const DescriptorOutput&) = delete;

    // The errno of the first failed write, 0 while every write has succeeded.
    const int& error() const { return m_error; }

protected:
    int_type overflow(int_type byte) override;
    int sync() override;

private:
    bool drain();

    int m_descriptor;
    int m_error = 0;
    std::array<char, 65536> m_buffer{};
};

}  // namespace tagsnip::cli
