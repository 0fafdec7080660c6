#include "ferrow/ua/builtin_types.h"

#include <chrono>
#include <cstdio>
#include <functional>

namespace ferrow::ua {

namespace {
// 100 ns intervals between 1601-01-01 and 1970-01-01.
constexpr std::int64_t kUnixEpochTicks = 116444736000000000LL;

template <class T>
bool samePointee(const std::shared_ptr<T>& a, const std::shared_ptr<T>& b) {
    if (!a || !b) return a == b;
    return *a == *b;
}

}  // namespace

bool sameScalar(const Scalar& a, const Scalar& b) {
    if (a.index() != b.index()) return false;
    return std::visit(
        [&b]<class T>(const T& x) {
            const T& y = std::get<T>(b);
            if constexpr (std::is_same_v<T, std::shared_ptr<DataValue>> ||
                          std::is_same_v<T, std::shared_ptr<Variant>> ||
                          std::is_same_v<T, std::shared_ptr<DiagnosticInfo>>) {
                return samePointee(x, y);
            } else {
                return x == y;
            }
        },
        a);
}

DateTime DateTime::now() {
    const auto sinceEpoch = std::chrono::system_clock::now().time_since_epoch();
    return DateTime{kUnixEpochTicks +
                    std::chrono::duration_cast<std::chrono::nanoseconds>(sinceEpoch).count() / 100};
}

NodeId NodeId::stringId(std::uint16_t nsIndex, std::string s) {
    NodeId id;
    id.ns = nsIndex;
    id.kind = Kind::String;
    id.text = std::move(s);
    return id;
}

NodeId NodeId::opaqueId(std::uint16_t nsIndex, std::string bytes) {
    NodeId id = stringId(nsIndex, std::move(bytes));
    id.kind = Kind::Opaque;
    return id;
}

std::string NodeId::toString() const {
    std::string out = ns ? "ns=" + std::to_string(ns) + ";" : std::string();
    switch (kind) {
        case Kind::Numeric:
            return out + "i=" + std::to_string(numeric);
        case Kind::String:
            return out + "s=" + text;
        case Kind::Opaque:
            return out + "b=(" + std::to_string(text.size()) + " bytes)";
        case Kind::Guid: {
            char buf[48];
            std::snprintf(buf, sizeof buf, "g=%08X-%04X-%04X-%02X%02X-", guid.data1, guid.data2, guid.data3,
                          guid.data4[0], guid.data4[1]);
            out += buf;
            for (int i = 2; i < 8; ++i) {
                std::snprintf(buf, sizeof buf, "%02X", guid.data4[i]);
                out += buf;
            }
            return out;
        }
    }
    return out;
}

std::size_t NodeIdHash::operator()(const NodeId& id) const {
    std::size_t h =
        std::hash<std::uint32_t>()(id.numeric) ^ (std::size_t(id.ns) << 20) ^ (std::size_t(id.kind) << 28);
    if (!id.text.empty()) h ^= std::hash<std::string>()(id.text) * 31;
    if (id.kind == NodeId::Kind::Guid) h ^= id.guid.data1;
    return h;
}

bool DiagnosticInfo::operator==(const DiagnosticInfo& o) const {
    return symbolicId == o.symbolicId && namespaceUri == o.namespaceUri && localizedText == o.localizedText &&
           locale == o.locale && additionalInfo == o.additionalInfo && innerStatusCode == o.innerStatusCode &&
           samePointee(inner, o.inner);
}

bool Variant::operator==(const Variant& o) const {
    if (type != o.type || isArray != o.isArray || dimensions != o.dimensions ||
        values.size() != o.values.size())
        return false;
    for (std::size_t i = 0; i < values.size(); ++i)
        if (!sameScalar(values[i], o.values[i])) return false;
    return true;
}

}  // namespace ferrow::ua
