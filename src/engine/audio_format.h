#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace tagsnip {

// The containers whose glued-on tags a run can remove, in the order the total line counts them.
enum class AudioFormat : std::uint8_t { mp3, flac, ogg, aac, wav, aiff };
constexpr std::size_t audioFormatCount = 6;

// A set of formats, one bit per AudioFormat.
class FormatSet {
public:
    constexpr FormatSet() = default;
    static constexpr FormatSet only(AudioFormat format) {
        FormatSet set;
        set.add(format);
        return set;
    }
    static constexpr FormatSet all() {
        FormatSet set;
        set.m_bits = (1u << audioFormatCount) - 1;
        return set;
    }
    constexpr void add(AudioFormat format) { m_bits |= bit(format); }
    constexpr bool contains(AudioFormat format) const { return (m_bits & bit(format)) != 0; }
    constexpr bool empty() const { return m_bits == 0; }
    // Whether a format other than MP3 is in the set: only then do rows and totals change.
    constexpr bool beyondMp3() const { return (m_bits & ~bit(AudioFormat::mp3)) != 0; }
    constexpr bool operator==(const FormatSet&) const = default;

private:
    static constexpr unsigned bit(AudioFormat format) {
        return 1u << static_cast<unsigned>(format);
    }
    unsigned m_bits = 0;
};

// "mp3", "flac", "ogg", "aac", "wav", "aiff": the names --formats takes and the total line uses.
const char* audioFormatName(AudioFormat format);
std::optional<AudioFormat> audioFormatNamed(std::string_view name);
// The format a file name's extension stands for, compared without regard to ASCII case.
std::optional<AudioFormat> audioFormatOfFile(std::string_view fileName);

}  // namespace tagsnip
