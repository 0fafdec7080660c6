#include "ferrow/app/views/device_dlg.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>
#include <cstdlib>

#include "ferrow/model/cdoc.h"
#include "ferrow/model/device.h"
#include "platform/ui/dialogs.h"

namespace ferrow {

namespace {
// Octet text read as the C library reads a number: leading digits count, anything else reads as 0.
int octetValue(const std::string& text) { return std::atoi(text.c_str()); }
}  // namespace

DeviceFields DeviceFields::Of(const ODevice& device) {
    DeviceFields fields;
    fields.name = device.m_strName;
    fields.octets = device.m_params.m_strOctet;
    fields.reserved = device.m_params.m_wReserved;
    return fields;
}

void DeviceFields::ApplyTo(ODevice& device) const {
    device.m_strName = name;
    device.m_params.m_strOctet = octets;
    device.m_params.m_wReserved = reserved;
}

std::vector<const char*> DeviceChecks(const DeviceFields& fields, const std::vector<const ODevice*>& others) {
    std::vector<const char*> messages;
    if (fields.name.empty()) messages.push_back("There must be a device name");
    bool present = true;
    for (const auto& octet : fields.octets) present = present && !octet.empty();
    if (!present) messages.push_back("Error in IP address");
    bool inRange = true;
    for (std::size_t i = 0; i < 4; ++i) {
        const int value = octetValue(fields.octets[i]);
        const int low = i == 0 || i == 3 ? 1 : 0;
        inRange = inRange && value >= low && value <= 254;
    }
    if (!inRange) messages.push_back("Error in IP address - illegal number");
    if (!messages.empty()) return messages;
    for (const ODevice* other : others) {
        if (other->m_strName == fields.name) return {"Device name must be unique"};
        if (other->m_params.m_strOctet == fields.octets) return {"IP address already used"};
    }
    return messages;
}

CDeviceDlg::CDeviceDlg(CDoc& doc, ODevice& device, QWidget* parent)
    : QDialog(parent), doc_(doc), device_(device), reserved_(device.m_params.m_wReserved) {
    setObjectName(QStringLiteral("CDeviceDlg"));
    setWindowTitle(QStringLiteral("Device Properties"));
    auto* grid = new QGridLayout;
    auto* nameLabel = new QLabel(QStringLiteral("&Name:"));
    m_name = new QLineEdit(QString::fromLatin1(device.m_strName));
    m_name->setObjectName(QStringLiteral("m_strName"));
    nameLabel->setBuddy(m_name);
    grid->addWidget(nameLabel, 0, 0);
    grid->addWidget(m_name, 0, 1);

    auto* address = new QHBoxLayout;
    for (std::size_t i = 0; i < 4; ++i) {
        auto* edit = new QLineEdit(QString::fromLatin1(device.m_params.m_strOctet[i]));
        edit->setObjectName(QStringLiteral("m_strOctet%1").arg(i + 1));
        edit->setMaxLength(kOctetLength);
        edit->setFixedWidth(edit->fontMetrics().horizontalAdvance(QStringLiteral("0000")) + 12);
        m_octet[i] = edit;
        if (i > 0) address->addWidget(new QLabel(QStringLiteral(".")));
        address->addWidget(edit);
    }
    address->addStretch();
    // The row's caption names the first octet; the others, whose only neighbours are dots, say which
    // octet they are.
    auto* addressLabel = new QLabel(QStringLiteral("IP &Address:"));
    addressLabel->setBuddy(m_octet[0]);
    grid->addWidget(addressLabel, 1, 0);
    grid->addLayout(address, 1, 1);
    for (std::size_t i = 1; i < 4; ++i)
        m_octet[i]->setAccessibleName(QStringLiteral("IP Address, octet %1").arg(i + 1));

    if (device.HasOpenPort() || device.IsConnecting()) {
        m_name->setReadOnly(true);
        for (auto* edit : m_octet) edit->setReadOnly(true);
    }

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    connect(buttons, &QDialogButtonBox::accepted, this, &CDeviceDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CDeviceDlg::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(buttons);
}

DeviceFields CDeviceDlg::Fields() const {
    DeviceFields fields;
    fields.name = m_name->text().toLatin1().toStdString();
    for (std::size_t i = 0; i < 4; ++i) fields.octets[i] = m_octet[i]->text().toLatin1().toStdString();
    fields.reserved = reserved_;
    return fields;
}

void CDeviceDlg::accept() {
    if (device_.HasOpenPort()) {
        QDialog::accept();
        return;
    }
    std::vector<const ODevice*> others;
    for (std::size_t i = 0; i < doc_.DeviceCount(); ++i)
        if (doc_.Device(i) != &device_) others.push_back(doc_.Device(i));
    const auto messages = DeviceChecks(Fields(), others);
    for (const char* message : messages) platform::ui::msgBox(QString::fromLatin1(message));
    if (messages.empty()) QDialog::accept();
}

}  // namespace ferrow
