// A connection handle made through the driver core for tests that link the
// core directly, pointed at a fake server.
#pragma once

#include <string>

#include "fake_server.h"
#include "spk_handles.h"

namespace tarn_fake {

struct TestConnection {
    SpkEnvironment *env = nullptr;
    SpkConnection *conn = nullptr;

    TestConnection();
    // Disconnects (when connected) and frees the connection and environment.
    ~TestConnection();
    TestConnection(const TestConnection &) = delete;
    TestConnection &operator=(const TestConnection &) = delete;

    // Server "127.0.0.1", the server's port, and the method that matches its
    // framing (AUTH_NONE for SASL, AUTH_NOSASL otherwise) unless given.
    void target(const FakeServer &server, int authentication = -1);
    void set_text(SpkString **field, const char *utf8);   // null: none

    // Diagnostic record `n` (1-based) of a handle, as UTF-8; "" when absent.
    static std::string message(const void *handle, int n = 1);
    static std::string sqlstate(const void *handle, int n = 1);
    static int native(const void *handle, int n = 1);
    static int count(const void *handle);
};

}  // namespace tarn_fake
