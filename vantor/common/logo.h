#pragma once

#include <QPixmap>

namespace vantor {

// The maker's logo for the About box, drawn at `size` pixels square.
QPixmap makerLogo(int size);

}  // namespace vantor
