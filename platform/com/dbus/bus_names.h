#pragma once

#include <QString>

namespace platform::com::dbus {

// Where COM objects live on the bus and what their D-Bus interfaces are called.
inline const QString kObjectRoot = QStringLiteral("/org/quillon/com");
inline const QString kClassObjectPath = QStringLiteral("/org/quillon/com/ClassObject");
inline const QString kObjectPathPrefix = QStringLiteral("/org/quillon/com/obj/");
inline const QString kInterfacePrefix = QStringLiteral("org.quillon.com.");
inline const QString kUnknownInterface = QStringLiteral("org.quillon.com.IUnknown");
inline const QString kNullPath = QStringLiteral("/");

}  // namespace platform::com::dbus
