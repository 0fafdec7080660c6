#pragma once

#include "vantor/settings/address_dialog.h"

namespace vantor {

// "Change Gateway Address": a host address; Set asks for confirmation first, since a wrong gateway
// cuts the device off from other networks.
class FGatewayAddr : public AddressDialog {
    Q_OBJECT
  public:
    explicit FGatewayAddr(QWidget* owner = nullptr);
    QString setGateway(const QString& current) { return run(current); }

    QLineEdit* txtGateway;
    QCheckBox* chkPersist;
    QPushButton* cmdSet;
    QPushButton* cmdCancel;

  protected:
    bool confirmSet() override;
};

}  // namespace vantor
