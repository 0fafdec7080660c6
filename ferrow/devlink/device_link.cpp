// The datapoint protocol of a device: what its link sends on the command port and how replies and
// pushed values reach its tags.
#include "ferrow/devlink/device_link.h"

#include <charconv>
#include <cstdio>

#include "ferrow/devlink/hex_value.h"
#include "ferrow/devlink/trace.h"
#include "ferrow/model/locks.h"

namespace ferrow {

using namespace platform::com;

namespace {

// A device never reports more datapoints than this; an enumeration that does not end is cut here.
constexpr int kMaxTags = 65535;
constexpr std::size_t kMaxValueText = 64;

// One exchange on the command port; nullopt when it failed.
std::optional<std::string> exchange(OPort& port, const std::string& line) {
    OPortRequest request;
    if (!request.SetCommand(line)) {
        trace("OPort: command line too long\r\n");
        return std::nullopt;
    }
    if (!port.Execute(request)) return std::nullopt;
    return std::string(request.m_szReply);
}

// A reply's type field: its leading digits as a type code, as the C library would read them; a number
// beyond the 16 bits of a type code is no type (0), never a wrapped one.
std::uint16_t TypeNumber(std::string_view text) {
    unsigned value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && value <= 0xFFFF ? static_cast<std::uint16_t>(value) : 0;
}

}  // namespace

bool StoreHexValue(OqnTag& tag, std::string_view text) {
    if (text.size() > kMaxValueText) return false;
    VARIANT value;
    VariantInit(&value);
    if (!ValueFromHex(text, tag.m_vtDevice, &value)) return false;
    std::lock_guard lock(valueLock());
    VariantClear(&tag.m_value);
    tag.m_value = value;
    tag.m_wQuality = kQualityGood;
    tag.m_ftTimestamp = currentFileTime();
    return true;
}

DeviceLink::DeviceLink(ODevice& device) : device_(device) {
    m_pCommandPort = std::make_unique<OPort>(this, OPort::kCommandPort);
    m_pNotifyPort = std::make_unique<OPort>(this, OPort::kNotifyPort);
}

DeviceLink::~DeviceLink() { Stop(); }

void DeviceLink::Stop() {
    // Both sockets are shut down first, so that neither worker keeps the other's stop waiting.
    m_pCommandPort->Abort();
    m_pNotifyPort->Abort();
    m_pCommandPort->Stop();
    m_pNotifyPort->Stop();
}

DeviceLink& AttachDeviceLink(ODevice& device) {
    auto link = std::make_unique<DeviceLink>(device);
    DeviceLink& attached = *link;
    device.AttachLink(std::move(link));
    return attached;
}

std::unique_ptr<ODevice> MakeLinkedDevice() {
    auto device = std::make_unique<ODevice>();
    AttachDeviceLink(*device);
    return device;
}

DeviceLink& LinkOf(const ODevice& device) { return dynamic_cast<DeviceLink&>(device.Link()); }

DeviceLink* FindLink(const ODevice& device) { return dynamic_cast<DeviceLink*>(&device.Link()); }

bool DeviceLink::IsConnected() const { return m_pCommandPort->IsConnected() && m_pNotifyPort->IsConnected(); }

bool DeviceLink::IsConnecting() const {
    return m_pCommandPort->Status() == 1 || m_pNotifyPort->Status() == 1;
}

bool DeviceLink::HasOpenPort() const {
    return m_pCommandPort->IsOpen() || m_pCommandPort->IsConnected() || m_pNotifyPort->IsOpen() ||
           m_pNotifyPort->IsConnected();
}

bool DeviceLink::Connect() {
    std::optional<std::string> numeric;
    {
        std::lock_guard document(documentLock());
        numeric = device_.m_params.NumericAddress();
    }
    if (!numeric) {
        trace("Device address is not four numbers from 0 to 255\r\n");
        return false;
    }
    const std::string& address = *numeric;
    // Whichever port is not open, or is open at another address than the device's now, is opened (again):
    // a device whose notification connection failed or was closed must be able to connect again while its
    // command connection stands, and both connections always go to the same address.
    auto reopen = [&address](OPort& port) {
        if (port.IsOpen() && port.Host() == address) return false;
        if (port.IsOpen() || port.IsConnected()) port.GiveUp();
        port.SetHost(address);
        return true;
    };
    if (IsConnected() && m_pCommandPort->Host() == address && m_pNotifyPort->Host() == address) return true;
    bool opened = true;
    if (reopen(*m_pCommandPort)) {
        OPortRequest open(OPortRequest::kOpen);
        if (!m_pCommandPort->Execute(open)) return false;
    }
    if (reopen(*m_pNotifyPort)) {
        OPortRequest open(OPortRequest::kOpen);
        opened = m_pNotifyPort->Execute(open);
    }
    // A new connection starts with the simulation off, and the Simulate check mark shows it.
    if (m_pCommandPort->IsConnected()) {
        exchange(*m_pCommandPort, "simulate/off\r\n");
        device_.m_bSimulate = 0;
    }
    return opened;
}

bool DeviceLink::SetSimulation(bool on) {
    return exchange(*m_pCommandPort, on ? "simulate/on\r\n" : "simulate/off\r\n").has_value();
}

std::unique_ptr<OqnTag> DeviceLink::QueryTag(int n) {
    if (!IsConnected()) return nullptr;
    const auto reply = exchange(*m_pCommandPort, "dpid/" + std::to_string(n) + "\r\n");
    if (!reply || reply->empty()) return nullptr;
    auto tag = std::make_unique<OqnTag>();
    tag->m_strName = std::string(Field(*reply, 0));
    tag->m_vtDevice = TypeNumber(Field(*reply, 1));
    tag->m_vtCanonical = tag->m_vtDevice;
    tag->m_bOutput = Field(*reply, 2) == "0" ? 0 : 1;
    return tag;
}

std::vector<std::unique_ptr<OqnTag>> DeviceLink::FetchTags(bool* complete, const std::atomic<bool>* cancel) {
    std::vector<std::unique_ptr<OqnTag>> tags;
    bool ended = false;
    while (static_cast<int>(tags.size()) < kMaxTags) {
        if (cancel && *cancel) break;
        auto tag = QueryTag(static_cast<int>(tags.size()));
        if (!tag) {
            // An empty reply ends the list; a failed exchange leaves the device not connected.
            ended = IsConnected();
            break;
        }
        tags.push_back(std::move(tag));
    }
    if (complete) *complete = ended || static_cast<int>(tags.size()) == kMaxTags;
    return tags;
}

int DeviceLink::LoadTags() {
    auto tags = FetchTags();
    const int n = static_cast<int>(tags.size());
    for (auto& tag : tags) device_.AddTag(std::move(tag));
    return n;
}

std::string DeviceLink::ReadValue(const OTag& tag) {
    if (!IsConnected()) return {};
    return exchange(*m_pCommandPort, "getdp/" + tag.m_strName + "\r\n").value_or(std::string());
}

bool DeviceLink::SendValue(const OqnTag& tag, const VARIANT& value) {
    const auto hex = HexFromValue(value);
    if (!hex) return false;
    const auto reply = exchange(*m_pCommandPort, "setdp/" + tag.m_strName + "/" + *hex + "\r\n");
    return reply && !reply->empty();
}

bool DeviceLink::WriteTag(OTag& tag) {
    VARIANT value;
    VariantInit(&value);
    HRESULT converted;
    {
        std::lock_guard lock(valueLock());
        converted = VariantChangeType(&tag.m_value, &tag.m_value, 0, tag.m_vtCanonical);
        if (SUCCEEDED(converted) && tag.m_value.vt == VT_R8)
            converted = VariantChangeType(&tag.m_value, &tag.m_value, 0, VT_R4);
        if (SUCCEEDED(converted)) VariantCopy(&value, &tag.m_value);
    }
    // A value the tag's type cannot hold is not sent in some other type's bytes: the write fails.
    const bool ok = SUCCEEDED(converted) && SendValue(static_cast<const OqnTag&>(tag), value);
    VariantClear(&value);
    std::lock_guard lock(valueLock());
    tag.m_wQuality = ok ? kQualityGood : kQualityBad;
    return ok;
}

void DeviceLink::OnCommFailure() {
    if (m_pCommandPort->IsConnected()) {
        m_pCommandPort->GiveUp();
        device_.MarkCommFailure();
    }
    if (m_pNotifyPort->IsConnected()) m_pNotifyPort->GiveUp();
}

void DeviceLink::OnNotificationsEnded() {
    // Without pushes the values shown would freeze while looking good: mark them, and let the device
    // count as not connected, so that Connect opens the notification connection again.
    device_.MarkCommFailure();
    m_pNotifyPort->GiveUp();
}

}  // namespace ferrow
