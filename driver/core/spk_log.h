// Trace log.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>

#include "spk_handles.h"

enum : uint32_t {
    LOG_ENTRY = 0x01,
    LOG_EXIT = 0x02,
    LOG_DETAIL = 0x04,
    LOG_ERROR = 0x08,
    LOG_PKTDUMP = 0x10,
    LOG_PER_THREAD_FILE = 0x20,
    LOG_IN_MEMORY = 0x40,
    LOG_CONTINUATION = 0x1000,
};

#define SPK_LOG_RING_SLOTS 100000
#define SPK_LOG_RECORD_MAX 2048

// Conversions: %d %u %x %X %L (32-bit), %l (64-bit), %c, %p, %r (return code),
// %s (bytes), %q (bytes, length), %Q and %T (UTF-16, length), %S (SpkString*).
size_t spk_vformat(char *buffer, size_t size, const char *format, va_list args);
size_t spk_sformat(char *buffer, size_t size, const char *format, ...);

void spk_log(const void *handle, const char *source_file, int line, uint32_t mode, const char *format, ...);
void spk_log_data(const void *handle, const char *source_file, int line, uint32_t mode, const void *data,
                  size_t count, const char *format, ...);
void spk_log_dump();

// Maps the Logging setting's text to a mask ("yes", "process", "onerror", a number...).
uint32_t spk_log_mask_from_text(const char *text);

// Test hook: empties the in-memory ring and forgets its destination.
void spk_log_ring_reset();
// Test hook: number of records held by the ring.
size_t spk_log_ring_size();

// Call-site guard: one test when tracing is off.
#define SPK_LOG(h, mode, ...)                                                            \
    do {                                                                                \
        if ((h) && ((const SpkHandle *)(h))->log_flags)                                  \
            spk_log((h), __FILE__, __LINE__, (mode), __VA_ARGS__);                     \
    } while (0)
#define SPK_LOG_DATA(h, mode, data, count, ...)                                          \
    do {                                                                                \
        if ((h) && ((const SpkHandle *)(h))->log_flags)                                  \
            spk_log_data((h), __FILE__, __LINE__, (mode), (data), (count), __VA_ARGS__); \
    } while (0)
// The ENTRY record of an exported function.
#define SPK_ENTRY(h, ...)                                                     \
    do {                                                                      \
        if (((const SpkHandle *)(h))->log_flags & LOG_ENTRY)                  \
            spk_log((h), __FILE__, __LINE__, LOG_ENTRY, __VA_ARGS__);          \
    } while (0)
