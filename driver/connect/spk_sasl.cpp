// SASL negotiation frames and the PLAIN exchange.
#include "spk_sasl.h"

#include <cstring>
#include <new>
#include <stdexcept>

#include "spk_err.h"
#include "spk_log.h"
#include "spk_tcli.h"
#include "spk_transport.h"

uint32_t get_be32(const unsigned char *p) {
    return ((uint32_t)p[0] << 24) | ((uint32_t)p[1] << 16) | ((uint32_t)p[2] << 8) | (uint32_t)p[3];
}

void put_be32(unsigned char *p, uint32_t value) {
    p[0] = (unsigned char)(value >> 24);
    p[1] = (unsigned char)(value >> 16);
    p[2] = (unsigned char)(value >> 8);
    p[3] = (unsigned char)value;
}

void spk_sasl_frame(std::string *out, int status, const void *payload, size_t length) {
    unsigned char header[5];
    header[0] = (unsigned char)status;
    put_be32(header + 1, (uint32_t)length);
    out->append((const char *)header, sizeof header);
    if (length) out->append((const char *)payload, length);
}

namespace {
// The most data a completion reply may carry (PLAIN sends none).
constexpr uint32_t kSaslCompleteDataMax = 65536;

apache::thrift::transport::TTransport *endpoint(SpkConnection *conn) {
    SpkTransportStack *st = conn ? conn->transport_stack : nullptr;
    return st ? st->base_transport.get() : nullptr;
}
}  // namespace

int spk_sasl_write(SpkConnection *conn, const std::string &bytes, std::string *error) {
    apache::thrift::transport::TTransport *t = endpoint(conn);
    try {
        if (!t) throw std::runtime_error("not connected");
        t->write((const uint8_t *)bytes.data(), (uint32_t)bytes.size());
        t->flush();
        return 0;
    } catch (const std::exception &e) {
        if (error) *error = e.what();
    } catch (...) {
        if (error) *error = "unknown failure";
    }
    return -1;
}

int spk_sasl_read(SpkConnection *conn, void *buffer, size_t count, std::string *error) {
    apache::thrift::transport::TTransport *t = endpoint(conn);
    try {
        if (!t) throw std::runtime_error("not connected");
        if (count) t->readAll((uint8_t *)buffer, (uint32_t)count);
        return 0;
    } catch (const std::exception &e) {
        if (error) *error = e.what();
    } catch (...) {
        if (error) *error = "unknown failure";
    }
    return -1;
}

size_t spk_sasl_read_some(SpkConnection *conn, void *buffer, size_t count) {
    apache::thrift::transport::TTransport *t = endpoint(conn);
    size_t have = 0;
    if (!t) return 0;
    try {
        while (have < count) {
            uint32_t got = t->read((uint8_t *)buffer + have, (uint32_t)(count - have));
            if (got == 0) break;
            have += got;
        }
    } catch (...) {
    }
    return have;
}

int spk_sasl_plain(SpkConnection *conn, const char *user, const char *password) {
    SpkTransportGuard guard(conn);
    SPK_LOG(conn, LOG_DETAIL, "Sending Auth");

    if (!user && !password) {
        user = "anonymous";
        password = "openguest";
    }
    if (!user) user = "";
    if (!password) password = "";
    size_t user_len = strlen(user);
    size_t password_len = strlen(password);

    std::string frames;
    std::string masked;
    try {
        static const char kMechanism[] = "PLAIN";
        spk_sasl_frame(&frames, SASL_START, kMechanism, sizeof kMechanism - 1);
        std::string payload;
        payload.reserve(user_len + password_len + 2);
        payload.push_back('\0');
        payload.append(user, user_len);
        payload.push_back('\0');
        payload.append(password, password_len);
        spk_sasl_frame(&frames, SASL_OK, payload.data(), payload.size());

        // The trace shows the frame with the password replaced.
        if (conn->log_flags & LOG_PKTDUMP) {
            std::string shown = payload.substr(0, user_len + 2) + "***";
            spk_sasl_frame(&masked, SASL_OK, shown.data(), shown.size());
        }
    } catch (const std::bad_alloc &) {
        spk_post_error(conn, "HY000", 0, "SASL failed to allocate buffer");
        return 0;
    }

    // A failed write shows as the error of the read that follows.
    std::string error;
    if (spk_sasl_write(conn, frames, &error) != 0) SPK_LOG(conn, LOG_DETAIL, "write fails: '%s'", error.c_str());
    SPK_LOG_DATA(conn, LOG_PKTDUMP, masked.data(), masked.size(), "Auth Buffer");

    unsigned char header[5];
    if (spk_sasl_read(conn, header, sizeof header, &error) != 0) {
        SPK_LOG(conn, LOG_ERROR, "read fails: '%s'", error.c_str());
        spk_post_error(conn, "HY000", 0, "read fails: '%s'", error.c_str());
        return 0;
    }
    int status = header[0];
    uint32_t length = get_be32(header + 1);
    if (status == SASL_COMPLETE) {
        // Data that comes with the completion is read whole, so that the
        // first Thrift message starts where it should.
        if (length > kSaslCompleteDataMax) {
            SPK_LOG(conn, LOG_ERROR, "SASL completion carries %u bytes", (unsigned)length);
            spk_post_error(conn, "HY000", 0, "SASL completion carries %u bytes", (unsigned)length);
            return 0;
        }
        char data[4096];
        for (uint32_t left = length; left > 0;) {
            uint32_t n = left < sizeof data ? left : (uint32_t)sizeof data;
            if (spk_sasl_read(conn, data, n, &error) != 0) {
                SPK_LOG(conn, LOG_ERROR, "read fails: '%s'", error.c_str());
                spk_post_error(conn, "HY000", 0, "read fails: '%s'", error.c_str());
                return 0;
            }
            left -= n;
        }
        return 1;
    }
    if (status > SASL_COMPLETE) {
        SPK_LOG(conn, LOG_ERROR, "SASL Error response: Unexpected byte %d", status);
        spk_post_error(conn, "HY000", 0, "SASL Error response: Unexpected byte %d", status);
        return 0;
    }

    // The server's error text: at most 511 bytes of it are kept.
    char text[512];
    size_t want = length < sizeof text - 1 ? length : sizeof text - 1;
    size_t got = spk_sasl_read_some(conn, text, want);
    text[got] = 0;
    SPK_LOG(conn, LOG_ERROR, "SASL Error response (%d,%u):  %s", status, (unsigned)length, text);
    spk_post_error(conn, "HY000", 0, "SASL Error response: (%d,%u) %s", status, (unsigned)length, text);
    return 0;
}
