#pragma once

#include <QString>
#include <optional>

namespace devsim {

// The simulated device's file system: a real folder on the PC. Device paths use "\" ("\MorvFlash\a.txt");
// "\MorvFlash" is the sub-folder "MorvFlash" of the root. Names compare ignoring case, as on the device.
class DeviceFiles {
  public:
    static constexpr const char* kFlashFolder = "MorvFlash";

    explicit DeviceFiles(QString root);

    const QString& root() const { return root_; }

    // The PC path for a device path, or nothing when the path would leave the root ("..") or is malformed.
    // Each existing segment is matched ignoring case; missing ones are taken as written.
    std::optional<QString> hostPath(const QString& devicePath) const;

    // Creates the root (when missing) with a few files, a "Windows" and a "Temp" folder and "\MorvFlash".
    static bool seed(const QString& root, QString* error = nullptr);

  private:
    QString root_;
};

}  // namespace devsim
