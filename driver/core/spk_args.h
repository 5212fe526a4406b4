// Text arguments of the exports, turned into SpkStrings.
#pragma once

#include "spk_handles.h"
#include "spk_string.h"

// Converts an input text (UTF-8 for ANSI exports, UTF-16 for wide ones).
// A null pointer gives *out = null and 0.  A bad length posts HY090, memory
// exhaustion HY001; both return -1.
int spk_text_arg(void *handle, const void *text, long length, int wide, SpkString **out);
