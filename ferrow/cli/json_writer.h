#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace ferrow::cli {

// Writes one JSON document to a stream, compact, as the calls describe it: objects and arrays nest, a
// key precedes each member. Strings are UTF-8; control characters are escaped. Numbers that JSON cannot
// hold (NaN, infinities) are written as strings. The caller keeps the nesting balanced.
class JsonWriter {
  public:
    explicit JsonWriter(std::ostream& out) : out_(out) {}

    void beginObject();
    void endObject();
    void beginArray();
    void endArray();
    void key(std::string_view name);

    void string(std::string_view text);
    void boolean(bool value);
    void null();
    void number(std::int64_t value);
    void number(std::uint64_t value);
    // The shortest text that reads back as the same number.
    void number(double value);
    void number(float value);
    // A number already in JSON's form (such as a fixed-point decimal text).
    void numberText(std::string_view text);

    // A complete member in one call.
    template <class T>
    void member(std::string_view name, const T& value) {
        key(name);
        write(value);
    }

    static std::string quoted(std::string_view text);

  private:
    void write(std::string_view text) { string(text); }
    void write(const std::string& text) { string(text); }
    void write(const char* text) { string(text); }
    void write(bool value) { boolean(value); }
    void write(double value) { number(value); }
    void write(float value) { number(value); }
    void write(std::int64_t value) { number(value); }
    void write(std::uint64_t value) { number(value); }
    void write(std::int32_t value) { number(std::int64_t{value}); }
    void write(std::uint32_t value) { number(std::uint64_t{value}); }
    void write(std::uint16_t value) { number(std::uint64_t{value}); }

    // Separates this value from the previous one of the same container.
    void beforeValue();

    std::ostream& out_;
    std::vector<bool> firstInContainer_;
    bool afterKey_ = false;
};

}  // namespace ferrow::cli
