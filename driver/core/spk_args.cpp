#include "spk_args.h"

#include "spk_err.h"

int spk_text_arg(void *handle, const void *text, long length, int wide, SpkString **out) {
    *out = nullptr;
    if (!text) return 0;
    if (!spk_text_length_ok(length)) {
        spk_post_error(handle, "HY090", 0, nullptr);
        return -1;
    }
    *out = wide ? spk_str_from_wide((const spk_unit *)text, length) : spk_str_from_utf8((const char *)text, length);
    if (!*out) {
        spk_post_error(handle, "HY001", 0, nullptr);
        return -1;
    }
    return 0;
}
