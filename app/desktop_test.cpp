#include <stdlib.h>

#include <string>

#include <gtest/gtest.h>

#include "app/desktop_loader.h"
#include "platform/program_module.h"
#include "settings/text_routines.h"
#include "testing/process.h"
#include "testing/temp_dir.h"

// The desktop mode on a machine without a display says so in one line and ends with 2; it
// neither aborts nor touches the configuration directory.
TEST(DesktopMode, WithoutADisplayExplainsAndExits) {
    TempDir dir;
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    unsetenv("QT_QPA_PLATFORM");
    std::string out;
    EXPECT_EQ(2,
              runCommand({builtProgram("app/tarnwick"), "--config-dir", dir.path()}, 20000, &out));
#ifdef TARNWICK_HAVE_GUI
    EXPECT_EQ(
        "tarnwick: the desktop window needs a display (set DISPLAY or WAYLAND_DISPLAY); run "
        "tarnwick --headless to run without a window\n",
        out);
#else
    EXPECT_EQ("tarnwick: this build has no desktop window; run it with --headless or --once\n",
              out);
#endif
    EXPECT_FALSE(fileExists(dir.file("tarnwick.ini")));
}

#ifdef TARNWICK_HAVE_GUI
TEST(DesktopMode, DisplayThatCannotBeOpenedExplainsAndExits) {
    TempDir dir;
    unsetenv("WAYLAND_DISPLAY");
    unsetenv("QT_QPA_PLATFORM");
    setenv("DISPLAY", "127.0.0.1:97", 1);
    std::string out;
    EXPECT_EQ(2,
              runCommand({builtProgram("app/tarnwick"), "--config-dir", dir.path()}, 20000, &out));
    EXPECT_NE(std::string::npos,
              out.find("tarnwick: the desktop window could not open the display; run tarnwick "
                       "--headless to run without a window\n"));
    unsetenv("DISPLAY");
}
#endif

// The module is taken from beside the program when it is there (a build folder), else from the
// folder the package installs it to.
TEST(DesktopMode, TheModuleIsLookedForBesideTheProgramThenWhereThePackagePutsIt) {
    TempDir dir;
    const std::string installed = "/usr/lib/x86_64-linux-gnu/tarnwick";
    EXPECT_EQ(installed + "/tarnwick-desktop.so", modulePath("tarnwick-desktop.so", dir.path(), installed));
    writeFile(dir.file("tarnwick-desktop.so"), "");
    EXPECT_EQ(dir.file("tarnwick-desktop.so"), modulePath("tarnwick-desktop.so", dir.path(), installed));
    EXPECT_EQ("", modulePath("tarnwick-desktop.so", "", ""));
}
