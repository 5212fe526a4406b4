// The widget toolkit inside someone else's process: a Qt application is
// only ever created when a display is known to work, and widgets are only
// used from the thread that owns the application.
#pragma once

#include <string>

// Makes sure a QApplication can be used on this thread, creating one when
// the process has none.  False with `reason` when no dialog can be shown:
// no display (or none that answers), a missing platform plugin, a host Qt
// application without widgets, or a call from a thread other than the
// application's.
bool spk_gui_ready(std::string *reason);

// The platform the dialog would use and why; for tests and diagnostics.
// Empty with `reason` when none is usable.
std::string spk_gui_platform(std::string *reason);
