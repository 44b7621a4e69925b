#include "app/shutdown.h"

#include <QCoreApplication>

namespace kq {

void ShutdownProgram(Globals& g, ShutdownTarget& target) {
    static int depth = 0;
    ++depth;
    g.ShuttingDown = true;
    // The filter goes first, so no hotkey can start typing while the windows close.
    if (g.filter) g.filter->remove();
    if (g.macro.MacroMode == ModeSingleList)
        g.restrict.ReleaseFormSize(target.mainWindow());
    else if (g.macro.MacroMode == ModeMultiSlot)
        g.restrict.ReleaseFormSize(target.multiSlotWindow());
    target.unloadOptions();
    target.unloadMultiSlot();
    target.unloadMain();
    target.removeTrayIcon();
    // The program ends once the outermost call has closed every window.
    if (--depth == 0) QCoreApplication::exit(0);
}

} // namespace kq
