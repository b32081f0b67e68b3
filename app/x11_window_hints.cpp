#include "app/x11_window_hints.h"

#include <QGuiApplication>
#include <QWidget>

#if defined(TARNWICK_HAVE_XCB) && QT_CONFIG(xcb)
#include <xcb/xcb.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>

namespace {

// WM_HINTS as ICCCM lays it out: nine 32-bit fields, the state hint third.
constexpr std::size_t kWmHintsFields = 9;
constexpr std::uint32_t kStateHintFlag = 1u << 1;
constexpr std::uint32_t kNormalState = 1;

}  // namespace

void mapNormally(QWidget& window) {
    // Other platforms may answer for X11 too (offscreen does, without a connection).
    if (QGuiApplication::platformName() != QLatin1String("xcb") || !window.isWindow())
        return;
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t* c = x11 ? x11->connection() : nullptr;
    if (!c)
        return;
    auto id = static_cast<xcb_window_t>(window.winId());
    std::array<std::uint32_t, kWmHintsFields> hints{};
    xcb_get_property_reply_t* reply = xcb_get_property_reply(
        c,
        xcb_get_property(c, 0, id, XCB_ATOM_WM_HINTS, XCB_ATOM_WM_HINTS, 0, kWmHintsFields),
        nullptr);
    if (reply && reply->format == 32 && reply->type == XCB_ATOM_WM_HINTS) {
        std::size_t bytes = std::min<std::size_t>(xcb_get_property_value_length(reply),
                                                  sizeof hints);
        std::memcpy(hints.data(), xcb_get_property_value(reply), bytes);
    }
    std::free(reply);
    if ((hints[0] & kStateHintFlag) && hints[2] == kNormalState)
        return;
    hints[0] |= kStateHintFlag;
    hints[2] = kNormalState;
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, id, XCB_ATOM_WM_HINTS, XCB_ATOM_WM_HINTS, 32,
                        kWmHintsFields, hints.data());
    xcb_flush(c);
}

#else

void mapNormally(QWidget&) {}

#endif
