#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "ferrow/model/analog_data.h"
#include "platform/com/variant.h"

namespace ferrow {

class OTagGroup;

inline constexpr std::uint16_t kQualityBad = 0x00;
inline constexpr std::uint16_t kQualityUncertain = 0x40;
inline constexpr std::uint16_t kQualityGood = 0xC0;
inline constexpr std::uint16_t kQualityCommFailure = 0x18;
inline constexpr std::uint16_t kQualityOutOfService = 0x1C;

// One datapoint. Owned by its device's tag list; OPC items hold it through AddRef/Release, which count
// uses but never delete. m_value, m_wQuality and m_ftTimestamp change together under the value lock.
class OTag {
  public:
    OTag();
    virtual ~OTag();
    OTag(const OTag&) = delete;
    OTag& operator=(const OTag&) = delete;

    virtual long AddRef() { return ++m_nRef; }
    virtual long Release() { return --m_nRef; }

    std::string m_strName;
    std::string m_strDescription;
    platform::com::VARTYPE m_vtCanonical = platform::com::VT_EMPTY;
    platform::com::VARIANT m_value;
    std::uint32_t m_dwReserved = 1;
    platform::com::FILETIME m_ftTimestamp;
    std::uint16_t m_wQuality = kQualityUncertain;
    std::uint32_t m_bScaled = 0;
    std::unique_ptr<OAnalogData> m_pAnalog;
    OTagGroup* m_pGroup = nullptr;
    std::atomic<long> m_nRef{0};
};

// One use of a tag (AddRef on taking, Release on letting go). A device whose tags are held cannot be
// deleted, so the tag stays valid while this lives. Any thread.
class TagRef {
  public:
    TagRef() = default;
    // Takes a use of `tag`; call while the tag is known to live (under the document lock).
    explicit TagRef(OTag* tag) : tag_(tag) {
        if (tag_) tag_->AddRef();
    }
    TagRef(const TagRef& other) : TagRef(other.tag_) {}
    TagRef(TagRef&& other) noexcept : tag_(other.tag_) { other.tag_ = nullptr; }
    TagRef& operator=(TagRef other) noexcept {
        OTag* mine = tag_;
        tag_ = other.tag_;
        other.tag_ = mine;
        return *this;
    }
    ~TagRef() { reset(); }

    void reset() {
        if (tag_) tag_->Release();
        tag_ = nullptr;
    }
    OTag* get() const { return tag_; }
    OTag* operator->() const { return tag_; }
    explicit operator bool() const { return tag_ != nullptr; }

  private:
    OTag* tag_ = nullptr;
};

// Every tag of the running system: the device's own type number and access.
class OqnTag : public OTag {
  public:
    std::uint16_t m_vtDevice = 0;
    std::uint8_t m_bOutput = 1;

    const char* AccessText() const { return m_bOutput ? "Output" : "Input"; }
};

}  // namespace ferrow
