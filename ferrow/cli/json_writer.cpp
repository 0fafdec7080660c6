#include "ferrow/cli/json_writer.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace ferrow::cli {

void JsonWriter::beforeValue() {
    if (afterKey_) {
        afterKey_ = false;
        return;
    }
    if (!firstInContainer_.empty()) {
        if (!firstInContainer_.back()) out_ << ',';
        firstInContainer_.back() = false;
    }
}

void JsonWriter::beginObject() {
    beforeValue();
    out_ << '{';
    firstInContainer_.push_back(true);
}

void JsonWriter::endObject() {
    out_ << '}';
    firstInContainer_.pop_back();
}

void JsonWriter::beginArray() {
    beforeValue();
    out_ << '[';
    firstInContainer_.push_back(true);
}

void JsonWriter::endArray() {
    out_ << ']';
    firstInContainer_.pop_back();
}

void JsonWriter::key(std::string_view name) {
    beforeValue();
    out_ << quoted(name) << ':';
    afterKey_ = true;
}

void JsonWriter::string(std::string_view text) {
    beforeValue();
    out_ << quoted(text);
}

void JsonWriter::boolean(bool value) {
    beforeValue();
    out_ << (value ? "true" : "false");
}

void JsonWriter::null() {
    beforeValue();
    out_ << "null";
}

void JsonWriter::number(std::int64_t value) {
    beforeValue();
    out_ << value;
}

void JsonWriter::number(std::uint64_t value) {
    beforeValue();
    out_ << value;
}

namespace {
template <class Real>
std::string shortestText(Real value) {
    char text[64];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return std::string(text, result.ptr);
}
}  // namespace

void JsonWriter::number(double value) {
    if (std::isnan(value)) return string("NaN");
    if (std::isinf(value)) return string(value > 0 ? "Infinity" : "-Infinity");
    numberText(shortestText(value));
}

void JsonWriter::number(float value) {
    if (std::isnan(value)) return string("NaN");
    if (std::isinf(value)) return string(value > 0 ? "Infinity" : "-Infinity");
    numberText(shortestText(value));
}

void JsonWriter::numberText(std::string_view text) {
    beforeValue();
    out_ << text;
}

std::string JsonWriter::quoted(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 2);
    out += '"';
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const auto next = static_cast<unsigned char>(i + 1 < text.size() ? text[i + 1] : 0);
        // DEL and the C1 controls (U+0080 to U+009F, in UTF-8 0xC2 and a second byte up to 0x9F; U+009B
        // starts a terminal command) are written as escapes, like the C0 controls.
        if (c == '\x7F' || (static_cast<unsigned char>(c) == 0xC2 && next >= 0x80 && next <= 0x9F)) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x",
                          c == '\x7F' ? 0x7Fu : static_cast<unsigned>(next));
            out += escape;
            if (c != '\x7F') ++i;
            continue;
        }
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (static_cast<unsigned char>(c) < 0x20) {
                    char escape[8];
                    std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(c));
                    out += escape;
                } else {
                    out += c;
                }
        }
    }
    out += '"';
    return out;
}

}  // namespace ferrow::cli
