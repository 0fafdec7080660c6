#pragma once

#include <QDialog>
#include <array>
#include <cstdint>
#include <string>
#include <vector>

class QLineEdit;

namespace ferrow {

class CDoc;
class ODevice;

// What the device dialog edits: a device's name, the four octets as typed, and the reserved word it
// carries through.
struct DeviceFields {
    std::string name;
    std::array<std::string, 4> octets;
    std::uint32_t reserved = 0;

    static DeviceFields Of(const ODevice& device);
    void ApplyTo(ODevice& device) const;
};

// The messages the dialog's OK shows for `fields`, in order: the name, the octets present, their
// ranges (all three checked even after a failure), then only when those passed the first clash with
// another device of `others` (list order; names compared with case, octets as text). Empty: valid.
std::vector<const char*> DeviceChecks(const DeviceFields& fields, const std::vector<const ODevice*>& others);

// "Device Properties": a device's name and address. Read-only while the device is connected or
// connecting; OK on a connected device closes without checks (and the caller applies nothing).
// Messages go through platform::ui. The caller applies the result (Fields()) under the document lock.
// GUI thread only.
class CDeviceDlg : public QDialog {
    Q_OBJECT
  public:
    static constexpr int kOctetLength = 3;

    CDeviceDlg(CDoc& doc, ODevice& device, QWidget* parent = nullptr);

    DeviceFields Fields() const;
    QLineEdit* nameEdit() const { return m_name; }
    QLineEdit* octetEdit(int index) const { return m_octet[static_cast<std::size_t>(index)]; }

    void accept() override;

  private:
    CDoc& doc_;
    ODevice& device_;
    std::uint32_t reserved_;
    QLineEdit* m_name;
    std::array<QLineEdit*, 4> m_octet;
};

}  // namespace ferrow
