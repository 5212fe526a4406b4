// The driver library, loaded for the dialog's Test button.
#pragma once

#include <string>

#include "spk_connect_info.h"

typedef int (*spk_driver_test_fn)(SpkConnectInfo *info, char *message, int message_size);

// The driver's driver_test: the library registered as "Driver" of the
// driver's section in odbcinst.ini, else the one next to this library,
// else the platform's search.  Loaded once and kept.  Null when none loads.
spk_driver_test_fn spk_find_driver_test(const std::string &driver_name);
