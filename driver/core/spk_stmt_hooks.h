// What the core needs of the execution code.
#pragma once

#include "../exec/spk_stmt.h"
