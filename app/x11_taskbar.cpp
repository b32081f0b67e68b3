#include "app/x11_taskbar.h"

#include <QGuiApplication>
#include <QWidget>

#if defined(TARNWICK_HAVE_XCB) && QT_CONFIG(xcb)
#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr std::uint32_t kNetWmStateRemove = 0;
constexpr std::uint32_t kNetWmStateAdd = 1;
constexpr std::uint32_t kSourceApplication = 1;

xcb_atom_t internAtom(xcb_connection_t* c, const char* name) {
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
        c, xcb_intern_atom(c, 0, static_cast<std::uint16_t>(std::strlen(name)), name), nullptr);
    xcb_atom_t atom = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
    std::free(reply);
    return atom;
}

// The window's _NET_WM_STATE with skipTaskbar added or taken out; the other states stay.
void writeState(xcb_connection_t* c, xcb_window_t window, xcb_atom_t state, xcb_atom_t skipTaskbar,
                bool skip) {
    std::vector<xcb_atom_t> atoms;
    xcb_get_property_reply_t* reply = xcb_get_property_reply(
        c, xcb_get_property(c, 0, window, state, XCB_ATOM_ATOM, 0, 1024), nullptr);
    if (reply && reply->format == 32 && reply->type == XCB_ATOM_ATOM) {
        auto* values = static_cast<const xcb_atom_t*>(xcb_get_property_value(reply));
        atoms.assign(values, values + xcb_get_property_value_length(reply) / sizeof(xcb_atom_t));
    }
    std::free(reply);
    atoms.erase(std::remove(atoms.begin(), atoms.end(), skipTaskbar), atoms.end());
    if (skip)
        atoms.push_back(skipTaskbar);
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, state, XCB_ATOM_ATOM, 32,
                        static_cast<std::uint32_t>(atoms.size()), atoms.data());
}

// Asks the window manager, through the window's root, to add or remove skipTaskbar.
void requestState(xcb_connection_t* c, xcb_window_t window, xcb_atom_t state,
                  xcb_atom_t skipTaskbar, bool skip) {
    xcb_get_geometry_reply_t* geometry =
        xcb_get_geometry_reply(c, xcb_get_geometry(c, window), nullptr);
    if (!geometry)
        return;
    xcb_client_message_event_t event;
    std::memset(&event, 0, sizeof event);
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = state;
    event.data.data32[0] = skip ? kNetWmStateAdd : kNetWmStateRemove;
    event.data.data32[1] = skipTaskbar;
    event.data.data32[3] = kSourceApplication;
    xcb_send_event(c, 0, geometry->root,
                   XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT,
                   reinterpret_cast<const char*>(&event));
    std::free(geometry);
}

}  // namespace

void setSkipTaskbar(QWidget& window, bool skip, bool mapped) {
    // Other platforms may answer for X11 too (offscreen does, without a connection).
    if (QGuiApplication::platformName() != QLatin1String("xcb") || !window.isWindow())
        return;
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t* c = x11 ? x11->connection() : nullptr;
    if (!c)
        return;
    auto id = static_cast<xcb_window_t>(window.winId());
    xcb_atom_t state = internAtom(c, "_NET_WM_STATE");
    xcb_atom_t skipTaskbar = internAtom(c, "_NET_WM_STATE_SKIP_TASKBAR");
    if (state == XCB_ATOM_NONE || skipTaskbar == XCB_ATOM_NONE)
        return;
    if (mapped)
        requestState(c, id, state, skipTaskbar, skip);
    else
        writeState(c, id, state, skipTaskbar, skip);
    xcb_flush(c);
}

#else

void setSkipTaskbar(QWidget&, bool, bool) {}

#endif
