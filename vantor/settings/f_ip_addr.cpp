#include "vantor/settings/f_ip_addr.h"

namespace vantor {

FIPAddr::FIPAddr(QWidget* owner)
    : AddressDialog({"Change IP address", "txtIP", "IP Address:", "set persistent", nullptr,
                     "check to save to flash", "cmdSet", "cmdCancel", settings::AddressKind::Host},
                    owner),
      txtIP(edit_),
      chkPersist(persist_),
      cmdSet(set_),
      cmdCancel(cancel_) {
    setObjectName(QStringLiteral("FIPAddr"));
}

}  // namespace vantor
