#pragma once

#include "vantor/settings/address_dialog.h"

namespace vantor {

// "Change IP address": the device's own address, a host address.
class FIPAddr : public AddressDialog {
    Q_OBJECT
  public:
    explicit FIPAddr(QWidget* owner = nullptr);
    QString setip(const QString& current) { return run(current); }

    QLineEdit* txtIP;
    QCheckBox* chkPersist;
    QPushButton* cmdSet;
    QPushButton* cmdCancel;
};

}  // namespace vantor
