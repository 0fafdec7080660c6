#pragma once

#include <QString>

namespace vantor {

// The program's title: window captions, message boxes and the settings store use it.
inline constexpr const char* kAppTitle = "Vantor";
QString appTitle();

struct AppVersion {
    int major = 0;
    int minor = 0;
    int revision = 0;
};
AppVersion appVersion();

}  // namespace vantor
