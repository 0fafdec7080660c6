#pragma once

#include "vantor/settings/address_dialog.h"

namespace vantor {

// "Change Subnet Mask": each part 0 to 255.
class FSubnet : public AddressDialog {
    Q_OBJECT
  public:
    explicit FSubnet(QWidget* owner = nullptr);
    QString setSubnet(const QString& current) { return run(current); }

    QLineEdit* txtSubnet;
    QCheckBox* chkPersist;
    QLabel* lblPersist;
    QPushButton* CmdSet;
    QPushButton* CmdCancel;
};

}  // namespace vantor
