// The SASL negotiation that precedes the framed Thrift stream of the SASL
// authentication methods.  Every negotiation message, both ways, is one frame:
// a status byte, a 4-byte big-endian payload length, the payload.  Frames go
// straight to the connection's endpoint transport (under the framed one), so
// they carry no extra length prefix.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "spk_handles.h"

enum {
    SASL_START = 1,
    SASL_OK = 2,
    SASL_BAD = 3,
    SASL_ERROR = 4,
    SASL_COMPLETE = 5,
};

uint32_t get_be32(const unsigned char *p);
void put_be32(unsigned char *p, uint32_t value);

// Appends one negotiation frame to `out`.
void spk_sasl_frame(std::string *out, int status, const void *payload, size_t length);

// Writes bytes to the endpoint transport and flushes.  0, or -1 with the
// transport's error text in *error (nothing posted).
int spk_sasl_write(SpkConnection *conn, const std::string &bytes, std::string *error);
// Reads exactly `count` bytes from the endpoint transport.  0, or -1 with the
// transport's error text in *error (nothing posted).
int spk_sasl_read(SpkConnection *conn, void *buffer, size_t count, std::string *error);
// Reads up to `count` bytes, stopping early at the end of the stream or on
// an error; returns the number read.
size_t spk_sasl_read_some(SpkConnection *conn, void *buffer, size_t count);

// The PLAIN exchange.  `user` and `password` are 8-bit texts or null (none);
// both null log on as "anonymous" / "openguest", one null is sent empty.
// 1 when the server answered SASL_COMPLETE, 0 with a diagnostic posted.
int spk_sasl_plain(SpkConnection *conn, const char *user, const char *password);

// The GSSAPI exchange of the Kerberos and AD methods: builds the logon
// request from the connection's settings (`host` is the server's name, for
// _HOST and host-based service names), picks the security provider, and runs
// the frames up to the server's SASL_COMPLETE.  1 on success, 0 with
// diagnostics posted; the security context is released either way.
int spk_sasl_gssapi(SpkConnection *conn, const std::string &host);
