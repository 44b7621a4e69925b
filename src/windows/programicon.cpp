#include "windows/twips.h"

#include <QPixmap>

// Resources compiled into a static library must be registered by hand.
static void initResources() {
    Q_INIT_RESOURCE(keyquill);
}

namespace kq {

QIcon ProgramIcon() {
    static const QIcon icon = [] {
        initResources();
        return QIcon(QPixmap(QStringLiteral(":/keyquill.xpm")));
    }();
    return icon;
}

} // namespace kq
