#include "vantor/settings/f_gateway_addr.h"

#include "platform/ui/dialogs.h"
#include "vantor/common/app_info.h"

namespace vantor {

FGatewayAddr::FGatewayAddr(QWidget* owner)
    : AddressDialog({"Change Gateway Address", "txtGateway", "Gateway Address", "set persistent", nullptr,
                     nullptr, "cmdSet", "cmdCancel", settings::AddressKind::Host},
                    owner),
      txtGateway(edit_),
      chkPersist(persist_),
      cmdSet(set_),
      cmdCancel(cancel_) {
    setObjectName(QStringLiteral("FGatewayAddr"));
}

bool FGatewayAddr::confirmSet() {
    return platform::ui::msgBox(
               QStringLiteral("Attention: Be sure that you will save the correct Gateway Address!!!"),
               platform::ui::mb::YesNo, appTitle()) == platform::ui::mb::Yes;
}

}  // namespace vantor
