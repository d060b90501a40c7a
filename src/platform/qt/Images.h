#pragma once

#include <QIcon>
#include <QPixmap>
#include <QSize>
#include <string>

namespace tavo::platform {

// The application's images, by name ("QXRStatusBarItemIconlogin",
// "TAVO_logo3", "icon_mac"...), drawn from the SVG files compiled into the
// program. An unknown name gives a null icon / pixmap.
QIcon imageNamed(const std::string& name);
// The image rendered at size (device-independent pixels), keeping its aspect
// ratio inside that box.
QPixmap pixmapNamed(const std::string& name, QSize size);
// Whether name is one of the application's images.
bool hasImageNamed(const std::string& name);

}  // namespace tavo::platform
