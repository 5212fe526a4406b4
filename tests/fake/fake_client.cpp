#include "fake_client.h"

#include <cstdlib>

#include "spk_err.h"
#include "spk_handle.h"
#include "spk_logon.h"
#include "spk_string.h"

namespace tarn_fake {

namespace {
std::string utf8(const SpkString *s) {
    if (!s) return "";
    char *bytes = spk_str_to_utf8(s);
    std::string out = bytes ? bytes : "";
    free(bytes);
    return out;
}
}  // namespace

TestConnection::TestConnection() {
    env = spk_env_new();
    env->odbc_version = 3;
    conn = spk_conn_new(env, 3);
}

TestConnection::~TestConnection() {
    if (conn && conn->connected) spk_disconnect(conn);
    spk_env_free(env);   // frees its connections
}

void TestConnection::target(const FakeServer &server, int authentication) {
    set_text(&conn->server, "127.0.0.1");
    conn->port = server.port();
    conn->authentication =
        authentication >= 0 ? authentication : (server.framing() == Framing::Sasl ? AUTH_NONE : AUTH_NOSASL);
}

void TestConnection::set_text(SpkString **field, const char *text) {
    spk_str_free(*field);
    *field = text ? spk_str_from_utf8(text, SQL_NTS) : nullptr;
}

std::string TestConnection::message(const void *handle, int n) {
    const SpkError *e = spk_error_record(handle, n);
    return e ? utf8(e->message) : "";
}

std::string TestConnection::sqlstate(const void *handle, int n) {
    const SpkError *e = spk_error_record(handle, n);
    return e ? utf8(e->sqlstate) : "";
}

int TestConnection::native(const void *handle, int n) {
    const SpkError *e = spk_error_record(handle, n);
    return e ? e->native : 0;
}

int TestConnection::count(const void *handle) { return spk_error_count(handle); }

}  // namespace tarn_fake
