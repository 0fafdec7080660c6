#pragma once

#include <QIcon>
#include <QPixmap>

namespace ferrow {

// The views' image list: 16-pixel images drawn in code. 0 a tag, 1 a connected device, 3 a device that
// is not connected (and a group); each device image's selected form is the next one up.
inline constexpr int kImageTag = 0;
inline constexpr int kImageConnected = 1;
inline constexpr int kImageNotConnected = 3;
inline constexpr int kImageCount = 5;
inline constexpr int kImageSize = 16;

// GUI thread only.
QPixmap treeImage(int index);
// An item's icon: `image` normally, `image` + 1 while selected.
QIcon treeIcon(int image);

}  // namespace ferrow
