#pragma once

class QWidget;

// Makes the next map of the unmapped top-level window a normal one: the initial state in its
// WM_HINTS becomes NormalState. Qt writes IconicState there when it minimises a window and
// leaves it when the window manager restores it, so a window minimised and restored once, then
// hidden, would come back minimised. Does nothing on platforms other than X11.
void mapNormally(QWidget& window);
