// Counted UTF-16 strings: the one text type inside the driver and the setup
// library.  Plain C-style API over a small struct; every constructor returns
// null when memory runs out.
#pragma once

#include <cstddef>
#include <cstdint>

typedef uint16_t spk_unit;   // one UTF-16 code unit (SQLWCHAR on this platform)

#ifndef SQL_NTS
#define SQL_NTS (-3)
#endif

struct SpkString {
    spk_unit *units;      // null for an empty string
    uint32_t length;      // units, no terminator counted
    uint32_t borrowed;    // 1: units belong to someone else
};

SpkString *spk_str_alloc(size_t n);
SpkString *spk_str_adopt(spk_unit *units, size_t n);
void spk_str_free(SpkString *s);
int spk_str_length(const SpkString *s);
int spk_str_bytes(const SpkString *s);
spk_unit *spk_str_units(const SpkString *s);

// Text lengths from applications: a count of units/bytes or SQL_NTS.  The
// constructors below return null for any other negative length; exports
// check with spk_text_length_ok first and post HY090.
bool spk_text_length_ok(long n);

SpkString *spk_str_from_latin1(const char *bytes);
SpkString *spk_str_from_latin1_n(const char *bytes, size_t n);
SpkString *spk_str_from_wide(const spk_unit *units, long n);
SpkString *spk_str_wrap_wide(spk_unit *units, long n);
SpkString *spk_str_from_utf8(const char *bytes, long n);
SpkString *spk_str_from_text(const void *p, long n, int is_utf8);
SpkString *spk_str_copy(const SpkString *s);
SpkString *spk_str_sub(const SpkString *s, long start, long len);
int spk_str_append(SpkString *a, const SpkString *b);        // 0 / -1 (out of memory)
char *spk_str_to_latin1(const SpkString *s);                  // malloc'ed, NUL-terminated
char *spk_str_to_utf8(const SpkString *s);                    // malloc'ed, NUL-terminated
// Same as spk_str_to_utf8, also reporting the byte length (embedded NULs kept).
char *spk_str_to_utf8_n(const SpkString *s, size_t *out_len);
// Bytes spk_str_to_utf8 produces (no NUL counted); 0 for null.
size_t spk_str_utf8_length(const SpkString *s);
// Encodes the longest run of whole characters from the start of `s` that
// fits in `cap` bytes; no NUL is written.  Returns the bytes written.
size_t spk_str_utf8_prefix(const SpkString *s, char *out, size_t cap);

// Brace-aware scanning for connection strings.
long spk_str_find_unbraced(long start, const SpkString *s, spk_unit ch, int *failed = nullptr);
void spk_str_split_unbraced(const SpkString *s, spk_unit ch, SpkString **head, SpkString **tail);
int spk_str_compare_nocase(const SpkString *s, const char *b);

size_t spk_wide_length(const spk_unit *units);
size_t spk_wide_length_bounded(const spk_unit *units, size_t max_units, size_t max_bytes);
size_t spk_narrow_length_bounded(const char *bytes, size_t a, size_t b);

// UTF-8.  Characters above U+FFFF become surrogate pairs on decode, and a
// surrogate pair is encoded as one four-byte sequence.  A surrogate without
// its partner (and any value above U+10FFFF) is encoded as U+FFFD, so the
// output is always valid UTF-8.  Decoding accepts only well-formed
// shortest-form sequences; anything else gives U+FFFD and consumes one byte.
int spk_utf8_encode_unit(uint32_t code_point, char *out);    // 1..4 bytes written
uint32_t spk_utf8_decode(const unsigned char *p, size_t avail, int *consumed);  // code point or 0xFFFD
int spk_utf8_sequence_length(unsigned char lead);

// String builder: %S SpkString*, %s bytes, %u UTF-8 (escaped for SQL literals), %d int.
SpkString *spk_format(const char *format, ...);

// Copying a text result into an application buffer (defined in spk_err.cpp,
// next to the diagnostics they post).  Return SQL_SUCCESS, or
// SQL_SUCCESS_WITH_INFO when truncated (01004 posted on `handle_for_01004`
// unless it is null), or SQL_ERROR for a negative BufferLength with a buffer
// (HY090 posted likewise).  A null buffer stores only the length and returns
// SQL_SUCCESS; a null string is copied as an empty one.  The full length is
// reported even when truncated; truncation never splits a surrogate pair
// (wide) or a multi-byte sequence (ANSI).
// Wide, BufferLength and *length in bytes.
short spk_copy_wide_bytes(void *handle_for_01004, const SpkString *s, void *buffer, long buffer_length,
                          long *length_out);
// Wide, BufferLength and *length in characters (units).
short spk_copy_wide_chars(void *handle_for_01004, const SpkString *s, void *buffer, long buffer_length,
                          long *length_out);
// ANSI (UTF-8 on this platform), BufferLength and *length in bytes of UTF-8.
short spk_copy_ansi(void *handle_for_01004, const SpkString *s, void *buffer, long buffer_length,
                    long *length_out);
