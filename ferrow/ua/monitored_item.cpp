#include "ferrow/ua/monitored_item.h"

#include <cmath>

#include "ferrow/ua/binary_decoder.h"
#include "ferrow/ua/node_ids.h"
#include "ferrow/ua/status_codes.h"

namespace ferrow::ua {

namespace {

// TagValue's alternatives are Scalar's first ones, in the same order.
constexpr auto kTagKinds = std::make_index_sequence<std::variant_size_v<TagValue>>();
template <std::size_t... I>
constexpr bool tagKindsMatch(std::index_sequence<I...>) {
    return (std::is_same_v<std::variant_alternative_t<I, TagValue>, std::variant_alternative_t<I, Scalar>> &&
            ...);
}
static_assert(tagKindsMatch(kTagKinds));

template <std::size_t... I>
bool toTagValue(const Scalar& scalar, TagValue& out, std::index_sequence<I...>) {
    return ((scalar.index() == I && (out.emplace<I>(std::get<I>(scalar)), true)) || ...);
}

template <std::size_t... I>
Scalar toScalar(const TagValue& value, std::index_sequence<I...>) {
    Scalar out;
    ((value.index() == I && (out.emplace<I>(std::get<I>(value)), true)) || ...);
    return out;
}

template <std::size_t... I>
bool sameAs(const TagValue& value, const Scalar& scalar, std::index_sequence<I...>) {
    return value.index() == scalar.index() &&
           ((value.index() == I && std::get<I>(value) == std::get<I>(scalar)) || ...);
}

template <class OneValue>
std::optional<double> numberOf(const OneValue& scalar) {
    return std::visit(
        []<class T>(const T& v) -> std::optional<double> {
            if constexpr (std::is_arithmetic_v<T> && !std::is_same_v<T, bool>) {
                return static_cast<double>(v);
            } else {
                return std::nullopt;
            }
        },
        scalar);
}

std::optional<double> numberOf(const Variant& value) {
    if (value.isArray || value.values.size() != 1) return std::nullopt;
    return numberOf(value.values.front());
}

// A Variant that is one scalar and nothing else, kept as the scalar alone.
bool isSingleScalar(const Variant& value) {
    return !value.isArray && value.values.size() == 1 && value.dimensions.empty();
}

std::uint32_t statusOf(const DataValue& value) { return value.status ? value.status->code : status::Good; }

}  // namespace

std::uint32_t parseFilter(const ExtensionObject& filter, bool numericValue, DataChangeFilter& out) {
    out = DataChangeFilter();
    if (filter.body == ExtensionObject::Body::None && filter.typeId.isNull()) return status::Good;
    if (filter.typeId == NodeId::numericId(id::EventFilter)) return status::BadFilterNotAllowed;
    if (filter.typeId != NodeId::numericId(id::DataChangeFilter) ||
        filter.body != ExtensionObject::Body::Binary)
        return status::BadMonitoredItemFilterUnsupported;
    try {
        BinaryDecoder decoder(filter.bytes);
        decoder(out);
        decoder.expectEnd();
    } catch (const DecodeError&) {
        return status::BadMonitoredItemFilterInvalid;
    }
    if (static_cast<std::uint32_t>(out.trigger) > 2) return status::BadMonitoredItemFilterInvalid;
    switch (static_cast<DeadbandType>(out.deadbandType)) {
        case DeadbandType::None:
            return status::Good;
        // Tags have no engineering range to take a percentage of.
        case DeadbandType::Percent:
            return status::BadMonitoredItemFilterUnsupported;
        case DeadbandType::Absolute:
            if (!numericValue) return status::BadFilterNotAllowed;
            return std::isfinite(out.deadbandValue) && out.deadbandValue >= 0
                       ? status::Good
                       : status::BadDeadbandFilterInvalid;
    }
    return status::BadDeadbandFilterInvalid;
}

MonitoredItem::Reported MonitoredItem::Reported::of(const DataValue& value) {
    Reported out;
    TagValue small;
    if (value.value && isSingleScalar(*value.value) &&
        toTagValue(value.value->values.front(), small, kTagKinds)) {
        out.value = std::move(small);
        out.scalarType = value.value->type;
    } else if (value.value) {
        out.value = *value.value;
    }
    out.hasStatus = value.status.has_value();
    out.status = statusOf(value);
    out.sourceTimestamp = value.sourceTimestamp;
    out.serverTimestamp = value.serverTimestamp;
    out.sourcePicoseconds = value.sourcePicoseconds;
    out.serverPicoseconds = value.serverPicoseconds;
    return out;
}

DataValue MonitoredItem::Reported::toDataValue() const {
    DataValue out;
    if (const TagValue* scalar = std::get_if<TagValue>(&value)) {
        Variant variant;
        variant.type = scalarType;
        variant.values.push_back(toScalar(*scalar, kTagKinds));
        out.value = std::move(variant);
    } else if (const Variant* variant = std::get_if<Variant>(&value)) {
        out.value = *variant;
    }
    if (hasStatus) out.status = StatusCode{status};
    out.sourceTimestamp = sourceTimestamp;
    out.serverTimestamp = serverTimestamp;
    out.sourcePicoseconds = sourcePicoseconds;
    out.serverPicoseconds = serverPicoseconds;
    return out;
}

bool MonitoredItem::Reported::sameValue(const std::optional<Variant>& other) const {
    if (!other) return std::holds_alternative<std::monostate>(value);
    if (const TagValue* scalar = std::get_if<TagValue>(&value))
        return other->type == scalarType && isSingleScalar(*other) &&
               sameAs(*scalar, other->values.front(), kTagKinds);
    if (const Variant* variant = std::get_if<Variant>(&value)) return *variant == *other;
    return false;
}

std::optional<double> MonitoredItem::Reported::number() const {
    if (const TagValue* scalar = std::get_if<TagValue>(&value)) return numberOf(*scalar);
    if (const Variant* variant = std::get_if<Variant>(&value)) return numberOf(*variant);
    return std::nullopt;
}

bool MonitoredItem::passesFilter(const DataValue& value) const {
    if (!last_ || reportNext_) return true;
    if (statusOf(value) != last_->status) return true;
    if (filter.trigger == DataChangeTrigger::Status) return false;
    if (filter.trigger == DataChangeTrigger::StatusValueTimestamp &&
        value.sourceTimestamp != last_->sourceTimestamp)
        return true;
    if (static_cast<DeadbandType>(filter.deadbandType) == DeadbandType::Absolute) {
        const auto now = value.value ? numberOf(*value.value) : std::nullopt;
        const auto before = last_->number();
        if (now && before) return std::fabs(*now - *before) > filter.deadbandValue;
    }
    return !last_->sameValue(value.value);
}

void MonitoredItem::offer(const DataValue& value) {
    if (mode == MonitoringMode::Disabled || !passesFilter(value)) return;
    // A value waiting in last_ joins the queue before last_ moves on (the queue grew since it came).
    if (lastQueued_ && queueSize > 1) queue_.push_back(last_->toDataValue());
    lastQueued_ = false;
    reportNext_ = false;
    last_ = Reported::of(value);
    if (queueSize == 1 && queue_.empty()) {
        lastQueued_ = true;  // replaces the value waiting, if any, as a queue of one keeps the newest
        return;
    }
    enqueue(value);
}

void MonitoredItem::enqueue(DataValue value) {
    if (queue_.size() < queueSize) {
        queue_.push_back(std::move(value));
        return;
    }
    const bool markOverflow = queueSize > 1;
    auto mark = [markOverflow](DataValue& v) {
        if (!markOverflow) return;
        v.status = StatusCode{statusOf(v) | status::kInfoTypeDataValue | status::kOverflowBit};
    };
    if (discardOldest) {
        queue_.erase(queue_.begin());
        queue_.push_back(std::move(value));
        mark(queue_.front());
    } else {
        queue_.back() = std::move(value);
        mark(queue_.back());
    }
}

}  // namespace ferrow::ua
