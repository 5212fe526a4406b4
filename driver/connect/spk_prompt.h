// Prompting for connection details through the setup library: finding it,
// loading it (once; it stays loaded), and the two dialogs it offers.
#pragma once

#include "spk_handles.h"

// Shows the completion dialog pre-filled with the connection's settings and
// applies the answer.  0 after OK, 100 (SQL_NO_DATA) after Cancel, -1 with
// IM008 posted when no dialog could be shown (no window handle, no setup
// library, no display).
int spk_prompt_connect_info(SpkConnection *conn, void *window, int completion);
// Shows the texts of the connection's diagnostic records, one per line.
void spk_show_connect_errors(SpkConnection *conn, void *window);
