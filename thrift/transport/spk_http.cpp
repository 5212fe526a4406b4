// Thrift over HTTP/1.1 POST.
#include "spk_http.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <cstdio>
#include <cstring>

#include "spk_log.h"

using apache::thrift::transport::TTransportException;

namespace {

const size_t kMaxHeaderLine = 16384;      // one header line
const size_t kMaxHeaderBytes = 65536;     // all header lines of one reply
const size_t kMaxChunkLine = 1024;        // a chunk-size line, extensions included
const uint64_t kMaxErrorBody = 1 << 20;   // the body of a reply other than 200 (discarded)
const size_t kMaxCookies = 16;
const size_t kMaxCookieBytes = 4096;
const size_t kReadBlock = 65536;

[[noreturn]] void fail(const std::string &text, const char *sqlstate = "08S01") {
    throw SpkTransportError(TTransportException::CORRUPTED_DATA, text, sqlstate);
}

bool has_line_break_or_nul(const std::string &s) { return s.find_first_of(std::string("\r\n\0", 3)) != std::string::npos; }

bool iequal_prefix(const std::string &s, const char *prefix) {
    size_t n = strlen(prefix);
    if (s.size() < n) return false;
    for (size_t i = 0; i < n; i++)
        if (tolower((unsigned char)s[i]) != tolower((unsigned char)prefix[i])) return false;
    return true;
}

std::string trim(const std::string &s) {
    size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t')) b++;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) e--;
    return s.substr(b, e - b);
}

std::string lower(std::string s) {
    for (char &c : s) c = (char)tolower((unsigned char)c);
    return s;
}

// A random version-4 UUID in lower-case hex.
std::string new_session_tag() {
    unsigned char b[16];
    if (RAND_bytes(b, sizeof b) != 1) fail("cannot make random bytes for the session tag", "HY000");
    b[6] = (unsigned char)((b[6] & 0x0f) | 0x40);
    b[8] = (unsigned char)((b[8] & 0x3f) | 0x80);
    char text[37];
    snprintf(text, sizeof text, "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x", b[0], b[1],
             b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13], b[14], b[15]);
    return text;
}

std::string base64(const std::string &in) {
    std::string out(4 * ((in.size() + 2) / 3) + 1, '\0');
    int n = EVP_EncodeBlock((unsigned char *)&out[0], (const unsigned char *)in.data(), (int)in.size());
    out.resize(n < 0 ? 0 : (size_t)n);
    return out;
}

// A decimal length: digits only, no sign, no overflow.
bool parse_decimal(const std::string &s, uint64_t *out) {
    if (s.empty() || s.size() > 19) return false;
    uint64_t v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + (uint64_t)(c - '0');
    }
    *out = v;
    return true;
}

}  // namespace

SpkHttpTransport::SpkHttpTransport(std::shared_ptr<SpkNetSocket> socket, SpkHttpOptions options,
                                   std::shared_ptr<apache::thrift::TConfiguration> config)
    : TVirtualTransport(config), socket_(std::move(socket)), options_(std::move(options)) {
    const std::string &p = options_.path;
    size_t skip = !p.empty() && p[0] == '/' ? 1 : 0;
    path_ = "/" + (p.size() > skip ? p.substr(skip) : std::string("cliservice"));
    const SpkNetOptions &net = socket_->options();
    bool ipv6 = net.host.find(':') != std::string::npos;
    host_header_ = (ipv6 ? "[" + net.host + "]" : net.host) + ":" + std::to_string(net.port);
    if (options_.bearer)
        authorization_ = "Bearer " + options_.token;
    else
        authorization_ = "Basic " + base64(options_.user + ":" + options_.password);
    session_tag_ = new_session_tag();
}

void SpkHttpTransport::open() {
    const char *bad = nullptr;
    if (has_line_break_or_nul(options_.user) || options_.user.find(':') != std::string::npos)
        bad = "the user name contains a colon, a line break or a NUL character";
    else if (has_line_break_or_nul(options_.password))
        bad = "the password contains a line break or a NUL character";
    else if (has_line_break_or_nul(options_.token))
        bad = "the access token contains a line break or a NUL character";
    for (unsigned char c : path_)
        if (c <= ' ' || c == 0x7f) bad = "the HTTP path (HttpUri) contains a blank or a control character";
    if (bad) throw SpkTransportError(TTransportException::NOT_OPEN, bad, "HY000");
    socket_->open();
    reopen_ = false;
    in_.clear();
    in_pos_ = 0;
}

// ---------------------------------------------------------------------------
// Request

void SpkHttpTransport::send_request(bool with_credentials) {
    if (reopen_ || !socket_->isOpen()) {
        socket_->close();
        socket_->open();
        reopen_ = false;
        in_.clear();
        in_pos_ = 0;
    }
    std::string head;
    head.reserve(512);
    head += "POST " + path_ + " HTTP/1.1\r\n";
    head += "Host: " + host_header_ + "\r\n";
    head += "Content-Type: application/x-thrift\r\n";
    head += "Content-Length: " + std::to_string(sent_body_.size()) + "\r\n";
    head += "Accept: application/x-thrift\r\n";
    head += "User-Agent: Quillmark ODBC\r\n";
    head += "Cache-Control: no-cache\r\n";
    size_t secret_from = head.size(), secret_to;
    sent_cookie_ = !with_credentials && !cookies_.empty();
    if (!sent_cookie_) {
        head += "Authorization: " + authorization_ + "\r\n";
        credential_requests_++;
    } else {
        head += "Cookie: ";
        bool first = true;
        for (const auto &c : cookies_) {
            if (!first) head += "; ";
            head += c.first + "=" + c.second;
            first = false;
        }
        head += "\r\n";
    }
    secret_to = head.size();
    head += "X-Thriftserver-Session-Tag: " + session_tag_ + "\r\n\r\n";
    requests_++;

    if (options_.conn) {
        std::string shown = head.substr(0, secret_from) +
                            (sent_cookie_ ? std::string("Cookie: ***")
                                          : "Authorization: " + authorization_.substr(0, authorization_.find(' ')) +
                                                " ***") +
                            "\r\n" + head.substr(secret_to);
        SPK_LOG(options_.conn, LOG_DETAIL, "Send Data:\n%s", shown.c_str());
        SPK_LOG_DATA(options_.conn, LOG_PKTDUMP, sent_body_.data(), (int)sent_body_.size(), "Send Data");
    }
    head += sent_body_;
    socket_->write((const uint8_t *)head.data(), (uint32_t)head.size());
}

void SpkHttpTransport::flush() {
    resetConsumedMessageSize();
    if (request_body_.size() > (size_t)getConfiguration()->getMaxMessageSize())
        fail("request larger than the maximum message size", "HY000");
    sent_body_.swap(request_body_);
    request_body_.clear();
    body_.clear();
    body_pos_ = 0;
    response_pending_ = false;
    bool with_credentials = cookies_.empty();
    send_request(with_credentials);
    response_pending_ = true;
}

// ---------------------------------------------------------------------------
// Response

uint32_t SpkHttpTransport::read(uint8_t *buf, uint32_t len) {
    if (response_pending_) {
        response_pending_ = false;
        read_response();
        if (status_ == 401 && sent_cookie_) {
            // The session cookie expired: once more with the credentials.
            if (options_.conn) SPK_LOG(options_.conn, LOG_DETAIL, "session cookie refused; sending the credentials");
            cookies_.clear();
            body_.clear();
            send_request(true);
            read_response();
        }
        if (status_ != 200) {
            char text[600];
            snprintf(text, sizeof text, "Unexpected reply code %d (%.500s)", status_, reason_.c_str());
            body_.clear();
            fail(text, status_ == 401 || status_ == 403 ? "28000" : "08S01");
        }
        sent_body_.clear();
        body_pos_ = 0;
    }
    size_t left = body_.size() - body_pos_;
    if (left == 0) return 0;
    size_t n = len < left ? len : left;
    memcpy(buf, body_.data() + body_pos_, n);
    body_pos_ += n;
    return (uint32_t)n;
}

void SpkHttpTransport::fill(const char *eof_text) {
    if (in_pos_ > 0 && in_pos_ == in_.size()) {
        in_.clear();
        in_pos_ = 0;
    } else if (in_pos_ > kReadBlock) {
        in_.erase(0, in_pos_);
        in_pos_ = 0;
    }
    size_t old = in_.size();
    in_.resize(old + kReadBlock);
    uint32_t n;
    try {
        n = socket_->read((uint8_t *)&in_[old], (uint32_t)kReadBlock);
    } catch (...) {
        in_.resize(old);
        reopen_ = true;
        throw;
    }
    in_.resize(old + n);
    if (n == 0) {
        reopen_ = true;
        fail(eof_text);
    }
}

std::string SpkHttpTransport::read_line(size_t max, const char *what) {
    size_t scanned = in_pos_;
    for (;;) {
        size_t nl = in_.find('\n', scanned);
        if (nl != std::string::npos) {
            size_t end = nl > in_pos_ && in_[nl - 1] == '\r' ? nl - 1 : nl;
            if (end - in_pos_ > max) break;
            std::string line = in_.substr(in_pos_, end - in_pos_);
            in_pos_ = nl + 1;
            return line;
        }
        if (in_.size() - in_pos_ > max + 1) break;
        scanned = in_.size();
        size_t before = in_pos_;
        fill("the server closed the connection in the middle of a reply");
        scanned -= before - in_pos_;   // fill() may have moved the unread bytes to the front
    }
    reopen_ = true;
    fail(std::string(what) + " longer than " + std::to_string(max) + " bytes");
}

void SpkHttpTransport::read_exact(std::string *dst, uint64_t n) {
    while (n > 0) {
        if (in_pos_ == in_.size()) fill("the server closed the connection in the middle of a reply body");
        size_t take = in_.size() - in_pos_;
        if ((uint64_t)take > n) take = (size_t)n;
        if (dst) dst->append(in_, in_pos_, take);
        in_pos_ += take;
        n -= take;
    }
}

void SpkHttpTransport::read_chunked(uint64_t limit) {
    for (;;) {
        std::string line = read_line(kMaxChunkLine, "chunk size line");
        size_t i = 0;
        uint64_t size = 0;
        while (i < line.size() && isxdigit((unsigned char)line[i])) {
            if (size >> 60) fail("chunk size out of range");
            char c = (char)tolower((unsigned char)line[i]);
            size = size * 16 + (uint64_t)(c <= '9' ? c - '0' : c - 'a' + 10);
            i++;
        }
        if (i == 0 || (i < line.size() && line[i] != ';' && line[i] != ' ' && line[i] != '\t'))
            fail("malformed chunk size line");
        if (size == 0) break;
        if (size > limit || body_.size() > limit - size)
            fail("reply body larger than the maximum message size (" + std::to_string(limit) + " bytes)");
        read_exact(&body_, size);
        if (!read_line(0, "chunk end").empty()) fail("chunk data longer than its size");
    }
    // Trailer fields, up to the empty line that ends the body.
    size_t total = 0;
    for (;;) {
        std::string line = read_line(kMaxHeaderLine, "trailer line");
        if (line.empty()) return;
        total += line.size();
        if (total > kMaxHeaderBytes) fail("chunked trailer too long");
    }
}

void SpkHttpTransport::take_header(const std::string &line, uint64_t *length, bool *has_length) {
    size_t colon = line.find(':');
    if (colon == std::string::npos || colon == 0) fail("malformed header line in the reply");
    std::string name = lower(line.substr(0, colon));
    std::string value = trim(line.substr(colon + 1));
    if (name == "content-length") {
        uint64_t v;
        if (!parse_decimal(value, &v)) fail("invalid Content-Length '" + value.substr(0, 40) + "'");
        if (*has_length && v != *length) fail("conflicting Content-Length headers");
        *length = v;
        *has_length = true;
    } else if (name == "transfer-encoding") {
        std::string v = lower(value);
        if (v == "chunked")
            chunked_ = true;
        else if (v != "identity")
            fail("unsupported Transfer-Encoding '" + value.substr(0, 40) + "'");
    } else if (name == "connection") {
        if (lower(value).find("close") != std::string::npos) close_after_ = true;
    } else if (name == "set-cookie") {
        std::string pair = trim(value.substr(0, value.find(';')));
        size_t eq = pair.find('=');
        if (eq == std::string::npos || eq == 0 || pair.size() > kMaxCookieBytes) return;
        for (unsigned char c : pair)
            if (c < 0x21 || c == 0x7f) return;   // nothing that could split our own header
        std::string cname = pair.substr(0, eq), cvalue = pair.substr(eq + 1);
        if (cvalue.empty()) {
            cookies_.erase(cname);
        } else if (cookies_.count(cname) || cookies_.size() < kMaxCookies) {
            cookies_[cname] = cvalue;
        }
    }
}

void SpkHttpTransport::read_response() {
    if (options_.conn) SPK_LOG(options_.conn, LOG_DETAIL, "Reading Response");
    for (;;) {
        status_ = 0;
        reason_.clear();
        chunked_ = false;
        close_after_ = false;
        body_.clear();
        body_pos_ = 0;

        // Status line (blank lines before it are skipped).
        std::string line;
        for (int blank = 0;; blank++) {
            if (in_pos_ == in_.size()) fill("the server closed the connection without a reply");
            line = read_line(kMaxHeaderLine, "status line");
            if (!line.empty()) break;
            if (blank > 8) fail("no status line in the reply");
        }
        if (options_.conn) SPK_LOG(options_.conn, LOG_DETAIL, "%s", line.c_str());
        if (line.size() < 12 || line.compare(0, 7, "HTTP/1.") != 0 || line[8] != ' ' || !isdigit((unsigned char)line[9]) ||
            !isdigit((unsigned char)line[10]) || !isdigit((unsigned char)line[11]) ||
            (line.size() > 12 && line[12] != ' '))
            fail("malformed status line '" + line.substr(0, 80) + "'");
        status_ = (line[9] - '0') * 100 + (line[10] - '0') * 10 + (line[11] - '0');
        reason_ = line.size() > 13 ? line.substr(13) : std::string();
        if (line[7] == '0') close_after_ = true;   // HTTP/1.0 closes unless told otherwise

        uint64_t length = 0;
        bool has_length = false;
        size_t total = 0;
        for (;;) {
            line = read_line(kMaxHeaderLine, "header line");
            if (line.empty()) break;
            total += line.size();
            if (total > kMaxHeaderBytes) fail("reply header longer than " + std::to_string(kMaxHeaderBytes) + " bytes");
            if (options_.conn) {
                if (iequal_prefix(line, "set-cookie:"))
                    SPK_LOG(options_.conn, LOG_DETAIL, "Set-Cookie: ***");
                else
                    SPK_LOG(options_.conn, LOG_DETAIL, "%s", line.c_str());
            }
            take_header(line, &length, &has_length);
        }

        if (status_ >= 100 && status_ < 200) continue;   // interim reply: the real one follows

        uint64_t limit = status_ == 200 ? (uint64_t)getConfiguration()->getMaxMessageSize() : kMaxErrorBody;
        if (status_ == 204 || status_ == 304) {
            // no body
        } else if (chunked_) {
            read_chunked(limit);
        } else if (has_length) {
            if (length > limit)
                fail("reply body of " + std::to_string(length) + " bytes is larger than the maximum message size (" +
                     std::to_string(limit) + " bytes)");
            // Memory follows the bytes that arrive, not the length announced.
            body_.reserve((size_t)(length < kReadBlock * 256 ? length : kReadBlock * 256));
            read_exact(&body_, length);
        } else {
            // The body ends where the server closes the connection.
            for (;;) {
                if (in_pos_ == in_.size()) {
                    in_.clear();
                    in_pos_ = 0;
                    in_.resize(kReadBlock);
                    uint32_t n = socket_->read((uint8_t *)&in_[0], (uint32_t)kReadBlock);
                    in_.resize(n);
                    if (n == 0) break;
                }
                if (body_.size() + (in_.size() - in_pos_) > limit) fail("reply body larger than the maximum message size");
                body_.append(in_, in_pos_, std::string::npos);
                in_pos_ = in_.size();
            }
            close_after_ = true;
        }
        if (options_.conn && status_ == 200)
            SPK_LOG_DATA(options_.conn, LOG_PKTDUMP, body_.data(), (int)body_.size(), "Response Body");
        if (close_after_) reopen_ = true;
        return;
    }
}
