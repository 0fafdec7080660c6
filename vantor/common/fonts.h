#pragma once

#include <QFont>
#include <QString>

namespace vantor {

// The font the windows were designed with, or a metric-compatible one when this machine lacks it
// (Arial -> Liberation Sans, Courier New -> Liberation Mono, Garamond -> EB Garamond).
QString fontFamilyFor(const QString& designFamily);
QFont designFont(const QString& designFamily, qreal pointSize, bool bold = false);

}  // namespace vantor
