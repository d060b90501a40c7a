#include "platform/qt/Images.h"

#include <QFile>
#include <QGuiApplication>
#include <QPainter>
#include <QString>
#include <QSvgRenderer>

namespace tavo::platform {

namespace {

// The images are compiled into the program under this prefix, one SVG file
// per name.
QString resourcePath(const std::string& name) {
    return QStringLiteral(":/images/") + QString::fromStdString(name) + QStringLiteral(".svg");
}

bool isPlainName(const std::string& name) {
    // A name is one file of the folder, never a path into the resources.
    return !name.empty() && name.find('/') == std::string::npos &&
           name.find("..") == std::string::npos;
}

}  // namespace

bool hasImageNamed(const std::string& name) {
    return isPlainName(name) && QFile::exists(resourcePath(name));
}

QIcon imageNamed(const std::string& name) {
    if (!hasImageNamed(name))
        return {};
    return QIcon(resourcePath(name));
}

QPixmap pixmapNamed(const std::string& name, QSize size) {
    if (!hasImageNamed(name) || size.isEmpty())
        return {};
    QSvgRenderer renderer(resourcePath(name));
    if (!renderer.isValid())
        return {};
    const QSize target = renderer.defaultSize().scaled(size, Qt::KeepAspectRatio);
    if (target.isEmpty())
        return {};
    const qreal ratio = qGuiApp ? qGuiApp->devicePixelRatio() : 1.0;
    QPixmap pixmap(target * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter, QRectF(QPointF(0, 0), QSizeF(target)));
    return pixmap;
}

}  // namespace tavo::platform
