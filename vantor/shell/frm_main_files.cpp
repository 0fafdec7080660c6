// frmMain: the menu items and the button that open the device file windows.
#include "vantor/shell/frm_main.h"

namespace vantor {

void frmMain::mnuDir_Click() {}

void frmMain::mnuUpload_Click() {}

void frmMain::mnuDownload_Click() {}

void frmMain::cmdUpload_Click() {}

}  // namespace vantor
