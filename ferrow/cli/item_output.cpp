#include "ferrow/cli/item_output.h"

#include <utility>

#include "ferrow/cli/json_writer.h"
#include "ferrow/cli/value_format.h"

namespace ferrow::cli {

using namespace platform::com;

ItemValue::ItemValue(ItemValue&& other) noexcept
    : itemId(std::move(other.itemId)),
      value(other.value),
      quality(other.quality),
      timestamp(other.timestamp),
      error(other.error) {
    VariantInit(&other.value);
}

ItemValue& ItemValue::operator=(ItemValue&& other) noexcept {
    if (this != &other) {
        VariantClear(&value);
        itemId = std::move(other.itemId);
        value = other.value;
        VariantInit(&other.value);
        quality = other.quality;
        timestamp = other.timestamp;
        error = other.error;
    }
    return *this;
}

std::string itemLine(const ItemValue& item) {
    std::string line = localTimeText(item.timestamp, {.milliseconds = true, .offset = false});
    if (line.empty()) line.push_back('-');
    line.append(" ").append(item.itemId).append(" ").append(valueText(item.value));
    return line.append(" ").append(qualityText(item.quality));
}

void writeItemJson(Session& session, JsonWriter& json, const ItemValue& item) {
    json.beginObject();
    json.member("item", item.itemId);
    if (FAILED(item.error)) {
        json.key("error");
        json.beginObject();
        json.member("code", hexCode(item.error));
        json.member("text", session.errorText(item.error));
        json.endObject();
    } else {
        json.key("time");
        const std::string time = localTimeText(item.timestamp, {.milliseconds = true, .offset = true});
        if (time.empty())
            json.null();
        else
            json.string(time);
        json.key("value");
        writeValueJson(json, item.value);
        json.member("type", varTypeName(item.value.vt));
        json.member("quality", qualityWord(item.quality));
        json.member("qualityCode", item.quality);
    }
    json.endObject();
}

}  // namespace ferrow::cli
