#pragma once

#include <array>
#include <string>
#include <string_view>

namespace ferrow {

// The receive buffer of a port and its line rules: a line ends with CR LF exactly; a line longer than
// the caller's limit throws away everything buffered; a CR followed by anything but LF stalls until the
// buffer is nearly full and is then thrown away. Used by one thread only.
class LineBuffer {
  public:
    static constexpr int kSize = 1024;
    static constexpr int kFullAt = 1014;

    // Takes one line (without its CR LF) into `dest`, which has room for `max` characters and a NUL.
    // Returns its length, or -1 when the buffer holds no complete line (it may have been discarded).
    int TakeLine(char* dest, int max);
    // Nearly full without a line: the caller discards and reports an empty line.
    bool Full() const { return m_nBuffered >= kFullAt; }
    void Discard() { m_nBuffered = 0; }

    // Room at the end for received bytes (leaves one byte spare, as the buffer always has).
    char* FreeSpace() { return m_pBuffer.data() + m_nBuffered; }
    int FreeCount() const { return kSize - 1 - m_nBuffered; }
    void Commit(int count) { m_nBuffered += count; }
    int Buffered() const { return m_nBuffered; }

  private:
    std::array<char, kSize> m_pBuffer{};
    int m_nBuffered = 0;
};

// One line from `buffer`, receiving more with `receive(space, count)` (bytes received, or <= 0 when the
// connection ended or failed) until a line is complete: its length; 0 when the buffer filled up without
// a line and was thrown away; -1 when receiving ended.
template <typename Receive>
int ReadLineFrom(LineBuffer& buffer, char* dest, int max, Receive&& receive) {
    for (;;) {
        const int length = buffer.TakeLine(dest, max);
        if (length >= 0) return length;
        if (buffer.Full()) {
            buffer.Discard();
            dest[0] = '\0';
            return 0;
        }
        const int got = receive(buffer.FreeSpace(), buffer.FreeCount());
        if (got <= 0) return -1;
        buffer.Commit(got);
    }
}

// A reply or notification line cut at each "/": field `index` (from 0), or "" past the last one.
std::string_view Field(std::string_view line, int index);

// A pushed value: the third field names the datapoint, the fourth is its hex value; the first two are
// not read. Empty name when the line has fewer than three fields.
struct Notification {
    std::string_view name;
    std::string_view hex;
};
Notification ParseNotification(std::string_view line);

}  // namespace ferrow
