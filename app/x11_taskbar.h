#pragma once

class QWidget;

// Takes the top-level window off the taskbar (skip is true) or puts it back, through
// _NET_WM_STATE_SKIP_TASKBAR. An unmapped window (mapped false: called from its show event,
// before the map) gets the property itself, which the window manager reads when it maps the
// window; for a mapped one the window manager is asked to change it. Does nothing on platforms
// other than X11.
void setSkipTaskbar(QWidget& window, bool skip, bool mapped);
