#include "windows/twips.h"

#include <QPixmap>

namespace kq {

QIcon ProgramIcon() {
    static const QIcon icon(QPixmap(QStringLiteral(":/keyquill.xpm")));
    return icon;
}

} // namespace kq
