// The entry point of the desktop module (tarnwick-desktop.so), which app/desktop_loader loads
// with dlopen. The module holds the Qt layer only; the core it calls is the executable's.

#include "app/desktop.h"

extern "C" __attribute__((visibility("default"))) int tarnwick_run_desktop(MailerApp* app,
                                                                           int tickMs, int argc,
                                                                           char** argv) {
    return runDesktop(*app, tickMs, argc, argv);
}
