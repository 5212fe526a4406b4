// The fixed-layout record that carries connection details between the
// driver and the setup library.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#pragma pack(push, 1)
struct SpkConnectInfo {
    char dsn[1024];
    char uid[1024];
    char pwd[1024];
    char server[1024];
    int32_t port;
    char col_length[1024];
    int32_t logging;
    char log_file[1024];
    int32_t encrypt;
    int32_t trust_server_certificate;
    char certificate_file[1024];
    int32_t authentication;
    char krb_principle[1024];
    char http_uri[1024];
    char access_token[1024];
};
#pragma pack(pop)

static_assert(sizeof(SpkConnectInfo) == 10260);
static_assert(offsetof(SpkConnectInfo, port) == 4096);
static_assert(offsetof(SpkConnectInfo, col_length) == 4100);
static_assert(offsetof(SpkConnectInfo, logging) == 5124);
static_assert(offsetof(SpkConnectInfo, log_file) == 5128);
static_assert(offsetof(SpkConnectInfo, encrypt) == 6152);
static_assert(offsetof(SpkConnectInfo, trust_server_certificate) == 6156);
static_assert(offsetof(SpkConnectInfo, certificate_file) == 6160);
static_assert(offsetof(SpkConnectInfo, authentication) == 7184);
static_assert(offsetof(SpkConnectInfo, krb_principle) == 7188);
static_assert(offsetof(SpkConnectInfo, http_uri) == 8212);
static_assert(offsetof(SpkConnectInfo, access_token) == 9236);

// The length of UTF-8 text cut to at most `max` bytes without splitting a
// character.
inline size_t spk_utf8_fit(const char *text, size_t n, size_t max) {
    if (n <= max) return n;
    n = max;
    while (n > 0 && ((unsigned char)text[n] & 0xC0) == 0x80) n--;
    return n;
}

// Copies UTF-8 text into a record field (or any buffer of `size` bytes),
// cut at a character boundary so that it fits with its NUL.
inline void spk_copy_record_text(char *out, size_t size, const char *text, size_t n) {
    if (!out || size == 0) return;
    n = spk_utf8_fit(text, n, size - 1);
    memcpy(out, text, n);
    out[n] = 0;
}
