#include "descriptor_output.h"

#include <unistd.h>

#include <cerrno>

namespace tagsnip::cli {

DescriptorOutput::DescriptorOutput(int descriptor) : m_descriptor(descriptor) {
    setp(m_buffer.data(), m_buffer.data() + m_buffer.size());
}

DescriptorOutput::~DescriptorOutput() {
    drain();
}

DescriptorOutput::int_type DescriptorOutput::overflow(int_type byte) {
    if (!drain()) {
        return traits_type::eof();
    }
    if (!traits_type::eq_int_type(byte, traits_type::eof())) {
        *pptr() = traits_type::to_char_type(byte);
        pbump(1);
    }
    return traits_type::not_eof(byte);
}

int DescriptorOutput::sync() {
    return drain() ? 0 : -1;
}

bool DescriptorOutput::drain() {
    const char* next = pbase();
    const char* const end = pptr();
    // After a failure the rest is dropped: the report is lost already, and a second attempt
    // could put a later row after a gap.
    while (m_error == 0 && next < end) {
        const ssize_t written = ::write(m_descriptor, next, static_cast<std::size_t>(end - next));
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            m_error = written < 0 ? errno : EIO;
            break;
        }
        next += written;
    }
    setp(m_buffer.data(), m_buffer.data() + m_buffer.size());
    return m_error == 0;
}

}  // namespace tagsnip::cli
