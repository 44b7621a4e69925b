#pragma once
// Window translucency (one alpha for the whole window, drawn by the compositor) and the colour
// theme's painting of single controls.
#include <cstdint>

class QWidget;

namespace kq {

class WindowOpacity;

// Where the compositor sets translucency (nullptr: the toolkit does). Set once at start.
void UseCompositorOpacity(WindowOpacity* opacity);

// 0 done; 1 alpha outside 0..255 (nothing changed); 2 the window could not be changed.
int MakeTransparent(QWidget* window, int16_t alpha);
int MakeOpaque(QWidget* window);
// True while the window carries a translucency set by MakeTransparent.
bool IsLayered(const QWidget* window);

// Colours are 0x00BBGGRR (red in the low byte).
void PaintBackground(QWidget* w, int32_t colour);
void PaintText(QWidget* w, int32_t colour);

} // namespace kq
