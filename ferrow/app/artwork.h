#pragma once

#include <QIcon>
#include <QPixmap>

namespace ferrow {

// Ferrow's pictures, drawn in code: the program's icon, the splash picture and the toolbar's icons.
enum class ToolIcon { New, Open, Save, NewDevice, Delete, Properties, Connect, Simulate, Monitor, About };

QIcon appIcon();
QPixmap splashPixmap();
QIcon toolIcon(ToolIcon icon);

}  // namespace ferrow
