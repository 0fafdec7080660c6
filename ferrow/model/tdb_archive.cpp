#include "ferrow/model/tdb_archive.h"

#include <map>

namespace ferrow {

namespace {

constexpr std::uint16_t kNewClass = 0xFFFF;
constexpr std::uint16_t kClassTag = 0x8000;
constexpr std::uint16_t kBigTag = 0x7FFF;
constexpr std::uint32_t kBigClassTag = 0x80000000;
constexpr std::uint16_t kSchema = 1;

class Writer {
  public:
    std::string bytes;

    void word(std::uint16_t w) {
        bytes += static_cast<char>(w & 0xFF);
        bytes += static_cast<char>(w >> 8);
    }
    void dword(std::uint32_t d) {
        word(static_cast<std::uint16_t>(d & 0xFFFF));
        word(static_cast<std::uint16_t>(d >> 16));
    }
    void string(const std::string& s) {
        if (s.size() < 255) {
            bytes += static_cast<char>(s.size());
        } else if (s.size() < 0xFFFE) {
            bytes += '\xFF';
            word(static_cast<std::uint16_t>(s.size()));
        } else {
            bytes += '\xFF';
            word(0xFFFF);
            dword(static_cast<std::uint32_t>(s.size()));
        }
        bytes += s;
    }
    void count(std::size_t n) {
        if (n < 0xFFFF) {
            word(static_cast<std::uint16_t>(n));
        } else {
            word(0xFFFF);
            dword(static_cast<std::uint32_t>(n));
        }
    }
    // A class record: new the first time, a reference to its index afterwards.
    void classRecord(const std::string& name) {
        const auto known = classes_.find(name);
        if (known != classes_.end()) {
            if (known->second < kBigTag) {
                word(static_cast<std::uint16_t>(kClassTag | known->second));
            } else {
                word(kBigTag);
                dword(kBigClassTag | known->second);
            }
            return;
        }
        word(kNewClass);
        word(kSchema);
        word(static_cast<std::uint16_t>(name.size()));
        bytes += name;
        classes_[name] = next_++;
    }
    void newObject() { ++next_; }

    void groupBody(const TdbGroup& group) {
        string(group.name);
        string(group.description);
        word(group.reserved);
        count(group.groups.size());
        for (const auto& child : group.groups) element(child);
    }

    void element(const TdbGroup& group) {
        classRecord(group.isDevice ? "ODevice" : "OTagGroup");
        newObject();
        if (group.isDevice) {
            dword(group.deviceReserved);
            dword(group.simulate);
            classRecord("ODeviceParams");
            for (const auto& octet : group.octets) string(octet);
            dword(group.paramsReserved);
            word(group.paramsWord);
            classRecord("OTagGroup");
        }
        groupBody(group);
    }

  private:
    std::map<std::string, std::uint32_t> classes_;
    std::uint32_t next_ = 1;
};

class Reader {
  public:
    explicit Reader(std::string_view bytes) : bytes_(bytes) {}

    std::string error;

    bool fail(const std::string& why) {
        if (error.empty()) error = why + " at byte " + std::to_string(at_);
        return false;
    }
    bool byte(std::uint8_t* b) {
        if (at_ >= bytes_.size()) return fail("the file ends early");
        *b = static_cast<std::uint8_t>(bytes_[at_++]);
        return true;
    }
    bool word(std::uint16_t* w) {
        std::uint8_t lo = 0, hi = 0;
        if (!byte(&lo) || !byte(&hi)) return false;
        *w = static_cast<std::uint16_t>(lo | hi << 8);
        return true;
    }
    bool dword(std::uint32_t* d) {
        std::uint16_t lo = 0, hi = 0;
        if (!word(&lo) || !word(&hi)) return false;
        *d = lo | static_cast<std::uint32_t>(hi) << 16;
        return true;
    }
    bool raw(std::size_t n, std::string* out) {
        if (n > bytes_.size() - at_) return fail("a text runs past the end of the file");
        out->assign(bytes_.substr(at_, n));
        at_ += n;
        return true;
    }
    // The length prefix of a string; `unicode` set for the UTF-16 marker.
    bool length(std::uint32_t* n, bool* unicode) {
        *unicode = false;
        std::uint8_t b = 0;
        if (!byte(&b)) return false;
        if (b < 0xFF) {
            *n = b;
            return true;
        }
        std::uint16_t w = 0;
        if (!word(&w)) return false;
        if (w == 0xFFFE) {
            *unicode = true;
            bool again;
            if (!length(n, &again)) return false;
            return !again || fail("a text has two wide-text marks");
        }
        if (w < 0xFFFF) {
            *n = w;
            return true;
        }
        return dword(n);
    }
    bool string(std::string* s) {
        std::uint32_t n = 0;
        bool unicode;
        if (!length(&n, &unicode)) return false;
        if (!unicode) return raw(n, s);
        std::string wide;
        if (std::size_t{n} * 2 > bytes_.size() - at_) return fail("a text runs past the end of the file");
        if (!raw(std::size_t{n} * 2, &wide)) return false;
        s->clear();
        for (std::size_t i = 0; i < wide.size(); i += 2) {
            const unsigned c = static_cast<std::uint8_t>(wide[i]) | static_cast<std::uint8_t>(wide[i + 1])
                                                                        << 8;
            *s += c <= 0xFF ? static_cast<char>(c) : '?';
        }
        return true;
    }
    bool count(std::uint32_t* n) {
        std::uint16_t w = 0;
        if (!word(&w)) return false;
        if (w < 0xFFFF) {
            *n = w;
            return true;
        }
        return dword(n);
    }

    enum class Tag { Class, Null };
    // A class record (new or known) giving its name, or a null element.
    bool classRecord(std::string* name, Tag* tag) {
        std::uint16_t w = 0;
        if (!word(&w)) return false;
        if (w == kNewClass) {
            std::uint16_t schema = 0, size = 0;
            if (!word(&schema) || !word(&size) || !raw(size, name)) return false;
            classes_[next_++] = *name;  // a different schema is accepted: nothing depends on it
            *tag = Tag::Class;
            return true;
        }
        std::uint32_t full = 0;
        if (w == kBigTag) {
            if (!dword(&full)) return false;
        } else {
            full = static_cast<std::uint32_t>(w & kClassTag) << 16 | (w & 0x7FFF);
        }
        if (full == 0) {
            *tag = Tag::Null;
            return true;
        }
        if (!(full & kBigClassTag))
            return fail("an object is stored twice");  // a list owns each of its objects
        const auto known = classes_.find(full & ~kBigClassTag);
        if (known == classes_.end()) return fail("a class reference names no class");
        *name = known->second;
        *tag = Tag::Class;
        return true;
    }
    bool expectClass(const char* expected) {
        std::string name;
        Tag tag;
        if (!classRecord(&name, &tag)) return false;
        if (tag != Tag::Class || name != expected) return fail(std::string("expected the class ") + expected);
        return true;
    }

    bool groupBody(TdbGroup* group, int depth) {
        if (depth > kMaxTdbDepth) return fail("groups are nested too deeply");
        std::uint32_t n = 0;
        if (!string(&group->name) || !string(&group->description) || !word(&group->reserved) || !count(&n))
            return false;
        // No reservation from the count: each element costs bytes, so the file's size bounds the loop.
        for (std::uint32_t i = 0; i < n; ++i) {
            std::string name;
            Tag tag;
            if (!classRecord(&name, &tag)) return false;
            if (tag == Tag::Null) continue;
            if (name != "ODevice" && name != "OTagGroup") return fail("unexpected class " + name);
            // The root holds devices only, and devices hold plain groups only: the document takes
            // whatever stands at the root for a device.
            const bool isDevice = name == "ODevice";
            if (depth == 0 && !isDevice) return fail("a group where a device belongs");
            if (depth > 0 && isDevice) return fail("a device inside a device");
            ++next_;  // the object's own index
            TdbGroup child;
            child.isDevice = isDevice;
            if (child.isDevice && !device(&child)) return false;
            if (!groupBody(&child, depth + 1)) return false;
            group->groups.push_back(std::move(child));
        }
        return true;
    }

    bool device(TdbGroup* d) {
        if (++devices_ > kMaxTdbDevices)
            return fail("more than " + std::to_string(kMaxTdbDevices) + " devices");
        if (!dword(&d->deviceReserved) || !dword(&d->simulate) || !expectClass("ODeviceParams")) return false;
        for (auto& octet : d->octets)
            if (!string(&octet)) return false;
        return dword(&d->paramsReserved) && word(&d->paramsWord) && expectClass("OTagGroup");
    }

    bool document(TdbDocument* doc) {
        if (!expectClass("CDoc") || !word(&doc->nextDevice) || !expectClass("OTagGroup")) return false;
        return groupBody(&doc->root, 0);  // bytes after the configuration are not read
    }

  private:
    std::string_view bytes_;
    std::size_t at_ = 0;
    std::map<std::uint32_t, std::string> classes_;
    std::uint32_t next_ = 1;
    int devices_ = 0;
};

}  // namespace

std::string WriteTdb(const TdbDocument& document) {
    Writer writer;
    writer.classRecord("CDoc");
    writer.word(document.nextDevice);
    writer.classRecord("OTagGroup");
    writer.groupBody(document.root);
    return std::move(writer.bytes);
}

bool ReadTdb(std::string_view bytes, TdbDocument* document, std::string* error) {
    *document = TdbDocument();
    if (bytes.empty()) return true;
    Reader reader(bytes);
    TdbDocument read;
    if (!reader.document(&read)) {
        if (error) *error = reader.error;
        return false;
    }
    *document = std::move(read);
    return true;
}

}  // namespace ferrow
