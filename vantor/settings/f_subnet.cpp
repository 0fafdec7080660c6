#include "vantor/settings/f_subnet.h"

namespace vantor {

FSubnet::FSubnet(QWidget* owner)
    : AddressDialog({"Change Subnet Mask", "txtSubnet", "Subnet Mask", "Check1", "set persistent", nullptr,
                     "CmdSet", "CmdCancel", settings::AddressKind::Mask},
                    owner),
      txtSubnet(edit_),
      chkPersist(persist_),
      lblPersist(persistLabel_),
      CmdSet(set_),
      CmdCancel(cancel_) {
    setObjectName(QStringLiteral("FSubnet"));
}

}  // namespace vantor
