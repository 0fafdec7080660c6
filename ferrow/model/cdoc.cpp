#include "ferrow/model/cdoc.h"

#include <QFile>
#include <QString>

#include "ferrow/model/device.h"
#include "ferrow/model/locks.h"
#include "ferrow/model/name_order.h"
#include "ferrow/model/tdb_archive.h"
#include "platform/files/atomic_file.h"

namespace ferrow {

namespace {
std::atomic<CDoc*> liveDocument{nullptr};
// Larger files are not configurations; reading them would only cost memory.
constexpr qint64 kMaxFileSize = 16 * 1024 * 1024;

std::unique_ptr<OTagGroup> buildGroup(const TdbGroup& from, OTagGroup* parent,
                                      const std::function<std::unique_ptr<ODevice>()>& makeDevice) {
    std::unique_ptr<OTagGroup> group;
    if (from.isDevice) {
        auto device = makeDevice();
        device->m_dwReserved = from.deviceReserved;
        device->m_bSimulate = 0;  // simulation is never restored from a file
        for (std::size_t i = 0; i < 4; ++i) device->m_params.m_strOctet[i] = from.octets[i];
        device->m_params.m_dwReserved = from.paramsReserved;
        device->m_params.m_wReserved = from.paramsWord;
        group = std::move(device);
    } else {
        group = std::make_unique<OTagGroup>();
    }
    group->m_strName = from.name;
    group->m_strDescription = from.description;
    group->m_wReserved = from.reserved;
    group->m_pParent = parent;
    for (const auto& child : from.groups)
        group->m_groups.push_back(buildGroup(child, group.get(), makeDevice));
    return group;
}

TdbGroup describe(const OTagGroup& group) {
    TdbGroup to;
    to.isDevice = group.IsDevice();
    to.name = group.m_strName;
    to.description = group.m_strDescription;
    to.reserved = group.m_wReserved;
    if (to.isDevice) {
        const auto& device = static_cast<const ODevice&>(group);
        to.deviceReserved = device.m_dwReserved;
        to.simulate = device.m_bSimulate;
        to.octets = device.m_params.m_strOctet;
        to.paramsReserved = device.m_params.m_dwReserved;
        to.paramsWord = static_cast<std::uint16_t>(device.m_params.m_wReserved);
    }
    for (const auto& child : group.m_groups) to.groups.push_back(describe(*child));
    return to;
}
}  // namespace

CDoc::CDoc(std::function<std::unique_ptr<ODevice>()> makeDevice) : makeDevice_(std::move(makeDevice)) {
    liveDocument = this;
}

CDoc::~CDoc() {
    {
        std::lock_guard lock(documentLock());
        UpdateAllViews(kHintClear);  // views let go of the devices before they go
        m_pSelection = nullptr;
        m_root.m_groups.clear();
    }
    CDoc* self = this;
    liveDocument.compare_exchange_strong(self, nullptr);
}

CDoc* CDoc::Live() { return liveDocument; }

void CDoc::SetClientsConnected(std::function<bool()> clientsConnected) {
    clientsConnected_ = std::move(clientsConnected);
}

std::unique_ptr<ODevice> CDoc::MakeDevice() const {
    return makeDevice_ ? makeDevice_() : std::make_unique<ODevice>();
}

ODevice* CDoc::Device(std::size_t index) const {
    return index < m_root.m_groups.size() ? static_cast<ODevice*>(m_root.m_groups[index].get()) : nullptr;
}

DocResult CDoc::RefuseWhileClientsConnected() const {
    if (!ClientsConnected()) return DocResult::Done();
    return DocResult::Failed("Cannot change files while OPC Clients are connected to this server.", false);
}

void CDoc::UpdateAllViews(int hint, OTagGroup* object, CDocView* sender) {
    if (m_pDeviceView && m_pDeviceView != sender) m_pDeviceView->OnUpdate(hint, object);
    if (m_pTagView && m_pTagView != sender) m_pTagView->OnUpdate(hint, object);
}

void CDoc::StartTagLoading() {
    if (m_pDeviceView) m_pDeviceView->StartTagLoading();
}

void CDoc::Clear() {
    m_pSelection = nullptr;
    // The views let go of the devices (items, rows, a tag load in progress) before they are deleted.
    UpdateAllViews(kHintClear);
    // Each device stops its link on the way out.
    m_root.m_groups.clear();
    m_nNextDevice = 1;
}

DocResult CDoc::OnNewDocument() {
    std::lock_guard lock(documentLock());
    if (DocResult refused = RefuseWhileClientsConnected(); !refused) return refused;
    ResetToNew();
    return DocResult::Done();
}

void CDoc::ResetToNew() {
    Clear();
    m_root.m_strName = "Group";
    m_root.m_strDescription.clear();
    m_root.m_wReserved = 1;
    m_bModified = false;
    StartTagLoading();
}

void CDoc::Build(const TdbDocument& file) {
    m_nNextDevice = file.nextDevice;
    m_root.m_strName = file.root.name;
    m_root.m_strDescription = file.root.description;
    m_root.m_wReserved = file.root.reserved;
    const auto makeDevice = [this] { return MakeDevice(); };
    for (const auto& child : file.root.groups)
        m_root.m_groups.push_back(buildGroup(child, &m_root, makeDevice));
}

DocResult CDoc::OnOpenDocument(const std::string& path) {
    std::lock_guard lock(documentLock());
    if (DocResult refused = RefuseWhileClientsConnected(); !refused) return refused;
    Clear();
    const QString name = QString::fromLocal8Bit(path.c_str());
    QFile file(name);
    QString problem;
    TdbDocument read;
    if (!file.open(QIODevice::ReadOnly)) {
        problem = file.errorString();
    } else if (file.size() > kMaxFileSize) {
        problem = QStringLiteral("the file is too large for a configuration");
    } else {
        const QByteArray bytes = file.readAll();
        std::string error;
        if (!ReadTdb(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())), &read,
                     &error))
            problem = QStringLiteral("unexpected file format (%1)").arg(QString::fromStdString(error));
    }
    if (!problem.isEmpty()) {
        ResetToNew();
        return DocResult::Failed(QStringLiteral("Cannot open %1: %2.").arg(name, problem).toStdString(),
                                 true);
    }
    Build(read);
    m_bModified = false;
    m_pSelection = m_root.m_groups.empty() ? nullptr : m_root.m_groups.front().get();
    UpdateAllViews(kHintRebuild);
    for (const auto& group : m_root.m_groups)
        if (group->IsDevice()) static_cast<ODevice*>(group.get())->Connect();
    StartTagLoading();
    return DocResult::Done();
}

DocResult CDoc::OnSaveDocument(const std::string& path) {
    TdbDocument document;
    {
        std::lock_guard lock(documentLock());
        document.nextDevice = m_nNextDevice;
        document.root = describe(m_root);
    }
    const std::string bytes = WriteTdb(document);
    const QString name = QString::fromLocal8Bit(path.c_str());
    QString error;
    if (!platform::writeFileAtomically(name, QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())),
                                       &error)) {
        return DocResult::Failed(QStringLiteral("Cannot save %1: %2.").arg(name, error).toStdString(), true);
    }
    m_bModified = false;
    return DocResult::Done();
}

ODevice* CDoc::AddDevice(const std::function<bool(ODevice&)>& editDevice) {
    auto device = MakeDevice();
    {
        std::lock_guard lock(documentLock());
        device->m_strName = "Device" + std::to_string(m_nNextDevice);
        ++m_nNextDevice;  // used up whether or not the user confirms
    }
    // The new device is nobody else's yet, and the list changes only on this thread.
    if (!editDevice || !editDevice(*device)) return nullptr;
    std::lock_guard lock(documentLock());
    ODevice* added = device.get();
    m_pSelection = added;
    added->m_pParent = &m_root;
    insertByName(m_root.m_groups, std::unique_ptr<OTagGroup>(std::move(device)));
    added->Connect();
    UpdateAllViews(kHintAdded, added);
    m_bModified = true;
    return added;
}

void CDoc::DeleteSelection() {
    std::lock_guard lock(documentLock());
    OTagGroup* selection = m_pSelection;
    if (!selection || selection->m_nUseCount != 0 || m_bMonitor || selection->TagsHeld()) return;
    OTagGroup* parent = selection->IsDevice() ? &m_root : selection->m_pParent;
    if (!parent) return;
    auto& list = parent->m_groups;
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (list[i].get() != selection) continue;
        OTagGroup* next = nullptr;
        if (selection->IsDevice() && i > 0) next = list[i - 1].get();
        m_pSelection = next;
        list.erase(list.begin() + static_cast<std::ptrdiff_t>(i));
        break;
    }
    UpdateAllViews(kHintRebuild);
    m_bModified = true;
}

OTag* CDoc::FindItem(std::string_view itemId, ODevice** device) {
    std::lock_guard lock(documentLock());
    const auto dot = itemId.find('.');
    if (dot == std::string_view::npos || dot == 0) return nullptr;
    const std::string_view name = itemId.substr(0, dot);
    for (const auto& group : m_root.m_groups) {
        if (!equalNoCase(group->m_strName, name)) continue;
        if (device) *device = group->GetDevice();
        return group->FindTag(itemId.substr(dot + 1));
    }
    return nullptr;
}

TagRef CDoc::AcquireItem(std::string_view itemId, ODevice** device) {
    std::lock_guard lock(documentLock());
    return TagRef(FindItem(itemId, device));
}

}  // namespace ferrow
