#include "vantor/common/app_info.h"

namespace vantor {

QString appTitle() { return QString::fromLatin1(kAppTitle); }

AppVersion appVersion() { return {VANTOR_VERSION_MAJOR, VANTOR_VERSION_MINOR, VANTOR_VERSION_REVISION}; }

}  // namespace vantor
