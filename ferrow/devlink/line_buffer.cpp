#include "ferrow/devlink/line_buffer.h"

#include <cstring>

namespace ferrow {

int LineBuffer::TakeLine(char* dest, int max) {
    for (int i = 0; i < m_nBuffered; ++i) {
        const char c = m_pBuffer[static_cast<std::size_t>(i)];
        if (c == '\r') {
            if (i + 1 >= m_nBuffered || m_pBuffer[static_cast<std::size_t>(i) + 1] != '\n') return -1;
            std::memcpy(dest, m_pBuffer.data(), static_cast<std::size_t>(i));
            dest[i] = '\0';
            const int rest = m_nBuffered - i - 2;
            std::memmove(m_pBuffer.data(), m_pBuffer.data() + i + 2, static_cast<std::size_t>(rest));
            m_nBuffered = rest;
            return i;
        }
        if (i >= max) {
            m_nBuffered = 0;
            return -1;
        }
    }
    return -1;
}

std::string_view Field(std::string_view line, int index) {
    for (; index > 0; --index) {
        const auto slash = line.find('/');
        if (slash == std::string_view::npos) return {};
        line.remove_prefix(slash + 1);
    }
    return line.substr(0, line.find('/'));
}

Notification ParseNotification(std::string_view line) { return {Field(line, 2), Field(line, 3)}; }

}  // namespace ferrow
