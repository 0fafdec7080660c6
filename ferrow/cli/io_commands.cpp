// read and write: one synchronous exchange through a private group of the items asked for.
#include <utility>

#include "ferrow/cli/commands.h"
#include "ferrow/cli/item_output.h"
#include "ferrow/cli/json_writer.h"
#include "ferrow/cli/unicode_text.h"
#include "ferrow/cli/value_format.h"
#include "platform/com/task_memory.h"

namespace ferrow::cli {

using namespace platform::com;
using namespace ferrow::opc;

namespace {

// Adds the items and reports those the server does not know; the slots of the known ones.
int addKnownItems(Session& session, ScopedGroup& group, const std::vector<std::string>& ids, bool active,
                  std::vector<ItemSlot>* known) {
    std::vector<ItemSlot> slots;
    if (const HRESULT r = group.addItems(ids, active, &slots); FAILED(r)) return session.fail("add items", r);
    int status = kExitOk;
    for (ItemSlot& slot : slots) {
        if (FAILED(slot.error))
            status = session.fail(slot.itemId, slot.error);
        else
            known->push_back(std::move(slot));
    }
    return status;
}

// The quality the server now holds for the item's tag (the "Item Quality" property), or none.
std::optional<WORD> tagQuality(IOPCServer* server, const std::string& itemId) {
    ComPtr<IOPCItemProperties> properties;
    if (FAILED(server->QueryInterface(IID_IOPCItemProperties, properties.putVoid()))) return std::nullopt;
    std::u16string wideId = wideFromUtf8(itemId);
    DWORD id = 3;
    VARIANT* values = nullptr;
    HRESULT* errors = nullptr;
    std::optional<WORD> quality;
    if (SUCCEEDED(properties->GetItemProperties(wideId.data(), 1, &id, &values, &errors)) && values &&
        errors && SUCCEEDED(errors[0]) && values[0].vt == VT_I2)
        quality = static_cast<WORD>(values[0].iVal);
    if (values) VariantClear(&values[0]);
    CoTaskMemFree(values);
    CoTaskMemFree(errors);
    return quality;
}

void printValues(Session& session, const std::vector<ItemValue>& values) {
    std::ostream& out = session.console().out;
    if (session.console().json) {
        JsonWriter json(out);
        json.beginArray();
        for (const ItemValue& value : values) writeItemJson(session, json, value);
        json.endArray();
        out << '\n';
        return;
    }
    for (const ItemValue& value : values)
        if (SUCCEEDED(value.error)) out << itemLine(value) << '\n';
}

}  // namespace

int runRead(Session& session, const Arguments& args) {
    const OPCDATASOURCE source = args.device ? OPC_DS_DEVICE : OPC_DS_CACHE;
    // The cache of an inactive group answers "out of service"; a device read does not care.
    const bool active = !args.device;
    ScopedGroup group(session.server());
    if (const HRESULT r = group.add(active, 1000, 0.0f); FAILED(r)) return session.fail("read", r);
    std::vector<ItemSlot> known;
    int status = addKnownItems(session, group, args.operands, active, &known);
    if (status == kExitUnavailable || known.empty()) return status;

    ComPtr<IOPCSyncIO> io;
    if (const HRESULT r = group.query(&io); FAILED(r)) return session.fail("read", r);
    std::vector<OPCHANDLE> handles;
    for (const ItemSlot& slot : known) handles.push_back(slot.serverHandle);
    OPCITEMSTATE* states = nullptr;
    HRESULT* errors = nullptr;
    const HRESULT result =
        io->Read(source, static_cast<DWORD>(handles.size()), handles.data(), &states, &errors);
    std::vector<ItemValue> values;
    if (SUCCEEDED(result) && states && errors) {
        for (std::size_t i = 0; i < known.size(); ++i) {
            ItemValue value;
            value.itemId = known[i].itemId;
            value.value = states[i].vDataValue;  // taken over; the array is freed below
            VariantInit(&states[i].vDataValue);
            value.quality = states[i].wQuality;
            value.timestamp = states[i].ftTimeStamp;
            value.error = errors[i];
            values.push_back(std::move(value));
        }
    }
    CoTaskMemFree(states);
    CoTaskMemFree(errors);
    if (FAILED(result)) return session.fail("read", result);
    if (values.size() != known.size()) return session.fail("read", E_POINTER);
    printValues(session, values);
    for (const ItemValue& value : values)
        if (FAILED(value.error)) status = session.fail(value.itemId, value.error);
    return status;
}

int runWrite(Session& session, const Arguments& args) {
    std::vector<std::string> ids;
    std::vector<std::string> texts;
    for (const std::string& pair : args.operands) {
        const std::size_t equals = pair.find('=');
        ids.push_back(pair.substr(0, equals));
        texts.push_back(pair.substr(equals + 1));
    }
    ScopedGroup group(session.server());
    if (const HRESULT r = group.add(false, 1000, 0.0f); FAILED(r)) return session.fail("write", r);
    std::vector<ItemSlot> known;
    if (const int status = addKnownItems(session, group, ids, false, &known); status != kExitOk) {
        if (status != kExitUnavailable) session.failWith("nothing was written");
        return status;
    }

    // Every value is read as its item's type before anything is written. A value the type cannot hold
    // is refused as the server would refuse it (exit 1): the command line itself was well formed.
    std::vector<ItemValue> values(known.size());
    for (std::size_t i = 0; i < known.size(); ++i) {
        const VARTYPE type = known[i].canonicalType;
        const HRESULT parsed = parseValue(texts[i], type, &values[i].value);
        if (FAILED(parsed)) {
            const std::string what =
                parsed == DISP_E_OVERFLOW ? " is out of the range of " : " is not a value of ";
            return session.failWith(std::string("write: '") + texts[i] + "'" + what + ids[i] + "'s type " +
                                        varTypeName(type) + "; nothing was written",
                                    kExitServerError);
        }
        values[i].itemId = ids[i];
    }

    ComPtr<IOPCSyncIO> io;
    if (const HRESULT r = group.query(&io); FAILED(r)) return session.fail("write", r);
    std::vector<OPCHANDLE> handles;
    std::vector<VARIANT> variants;
    for (std::size_t i = 0; i < known.size(); ++i) {
        handles.push_back(known[i].serverHandle);
        variants.push_back(values[i].value);  // shallow: `values` keeps ownership
    }
    HRESULT* errors = nullptr;
    const HRESULT result =
        io->Write(static_cast<DWORD>(handles.size()), handles.data(), variants.data(), &errors);
    if (SUCCEEDED(result) && errors)
        for (std::size_t i = 0; i < values.size(); ++i) values[i].error = errors[i];
    CoTaskMemFree(errors);
    if (FAILED(result)) return session.fail("write", result);
    if (!errors) return session.fail("write", E_POINTER);

    int status = kExitOk;
    std::vector<bool> refused(values.size(), false);
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (FAILED(values[i].error)) {
            status = session.fail(ids[i], values[i].error);
            continue;
        }
        // The server accepts a value for an item even when the device then refuses it, and only marks
        // the tag bad; a write the device did not take must not look like success.
        const std::optional<WORD> quality = tagQuality(session.server(), ids[i]);
        if (quality && (*quality & OPC_QUALITY_MASK) != OPC_QUALITY_GOOD) {
            refused[i] = true;
            status = session.failWith(ids[i] + ": the device did not take the value (quality now " +
                                      qualityText(*quality) + ")");
        }
    }
    std::ostream& out = session.console().out;
    if (session.console().json) {
        JsonWriter json(out);
        json.beginArray();
        for (std::size_t i = 0; i < values.size(); ++i) {
            json.beginObject();
            json.member("item", ids[i]);
            json.key("value");
            writeValueJson(json, values[i].value);
            json.member("type", varTypeName(values[i].value.vt));
            json.member("written", SUCCEEDED(values[i].error) && !refused[i]);
            if (FAILED(values[i].error)) {
                json.key("error");
                json.beginObject();
                json.member("code", hexCode(values[i].error));
                json.member("text", session.errorText(values[i].error));
                json.endObject();
            }
            json.endObject();
        }
        json.endArray();
        out << '\n';
    } else {
        for (std::size_t i = 0; i < values.size(); ++i)
            if (SUCCEEDED(values[i].error) && !refused[i])
                out << ids[i] << " = " << valueText(values[i].value) << '\n';
    }
    return status;
}

}  // namespace ferrow::cli
