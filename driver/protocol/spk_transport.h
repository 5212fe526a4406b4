// The Thrift objects of one connection: the endpoint socket, the framing
// transport over it, the binary protocol, the service client and the session.
// Built by spk_connect, used under the connection's transport_lock, released
// by spk_disconnect (and by spk_transport_stack_free when a connection is
// reset or freed).
#pragma once

#include <thrift/TConfiguration.h>
#include <thrift/protocol/TProtocol.h>
#include <thrift/transport/TBufferTransports.h>
#include <thrift/transport/TSocket.h>
#include <thrift/transport/TTransport.h>
#include <thrift/transport/TTransportException.h>

#include <deque>
#include <memory>
#include <utility>
#include <string>

#include "TCLIService.h"
#include "spk_batch.h"
#include "spk_handles.h"
#include "transport/spk_net_socket.h"

// Message-size limits given to every transport layer of a connection.  One
// FetchResults reply is one Thrift message (and, after SASL, one frame), so
// these bound the size of a fetched batch.  256 MiB by default (the
// MaxMessageSize keyword raises it); a garbage length is refused before it
// turns into an allocation.
enum : int {
    SPK_MAX_MESSAGE_SIZE = 256 << 20,
    SPK_MAX_FRAME_SIZE = 256 << 20,
    // Elements one list, set or map of a reply may declare.  A list of
    // strings costs a string object per element whatever the bytes behind
    // it, so this is what bounds the memory a declared size can ask for.
    SPK_MAX_CONTAINER_SIZE = 4 << 20,
    // Rows asked for in one FetchResults: below the container limit.
    SPK_MAX_BATCH_ROWS = 1 << 20,
};

// Limits that override every connection's own; the test suite lowers them to
// prove they are enforced without moving a gigabyte.  0 removes the override.
void spk_transport_set_limits(int max_message_size, int max_frame_size);
// A configuration with the current limits, or with `max_message_size` bytes
// for both when it is positive (a connection's MaxMessageSize).
std::shared_ptr<apache::thrift::TConfiguration> spk_transport_config(int max_message_size = 0);
// The binary protocol of a connection over `transport`: strict, with string
// and container sizes bounded by the configuration's limits.
std::shared_ptr<apache::thrift::protocol::TProtocol> spk_transport_protocol(
    std::shared_ptr<apache::thrift::transport::TTransport> transport,
    const std::shared_ptr<apache::thrift::TConfiguration> &config);

// The framed transport of the SASL methods, with two corrections to Thrift's:
// - Thrift's reads on into the next frame when a message is longer than its
//   frame, waiting for bytes the server will never send; here a message that
//   runs past its frame is an error, and bytes left over in a frame after its
//   message are dropped.
// - Thrift's counts every byte read against the maximum message size until
//   the next flush; here the count also starts afresh after each message, so
//   the limit applies to each reply by itself whatever the calling pattern.
class SpkFramedTransport : public apache::thrift::transport::TFramedTransport {
public:
    using TFramedTransport::TFramedTransport;
    uint32_t readSlow(uint8_t *buf, uint32_t len) override {
        if (in_message_)
            throw apache::thrift::transport::TTransportException(
                apache::thrift::transport::TTransportException::CORRUPTED_DATA,
                "message runs past the end of its frame");
        in_message_ = true;
        return TFramedTransport::readSlow(buf, len);
    }
    uint32_t readEnd() override {
        rBase_ = rBound_;
        uint32_t n = TFramedTransport::readEnd();
        in_message_ = false;
        resetConsumedMessageSize();
        return n;
    }

private:
    bool in_message_ = false;
};

// Which framing the connection uses for Thrift messages.
enum {
    SPK_TRANSPORT_NONE = 0,
    SPK_TRANSPORT_BUFFERED = 1,    // AUTH_NOSASL, HTTP
    SPK_TRANSPORT_FRAMED = 2,      // the SASL methods
};

struct SpkTransportStack {
    std::shared_ptr<apache::thrift::TConfiguration> config;
    // The TCP socket: the endpoint itself, or the one under the HTTP transport.
    std::shared_ptr<apache::thrift::transport::TSocket> socket;
    // The TCP or TLS endpoint of the TLS and HTTP methods (then `socket` is null).
    std::shared_ptr<SpkNetSocket> net_socket;
    // The endpoint transport: `socket`, `net_socket`, or the HTTP transport over it.
    std::shared_ptr<apache::thrift::transport::TTransport> base_transport;
    // For the HTTP methods only: the socket under the HTTP transport.
    std::shared_ptr<apache::thrift::transport::TTransport> http_socket;
    // Framed or buffered transport over base_transport.
    std::shared_ptr<apache::thrift::transport::TTransport> transport;
    std::shared_ptr<apache::thrift::protocol::TProtocol> protocol;
    std::shared_ptr<tcli::TCLIServiceClient> client;
    // Set by a successful OpenSession, cleared by a successful CloseSession.
    std::shared_ptr<tcli::TSessionHandle> session_handle;

    // Set when an exchange left the stream in an unknown state (lost link,
    // broken or unexpected reply): every later call fails at once with 08S01
    // instead of reading a reply that belongs to something else.
    bool broken = false;
    std::string broken_reason;

    // The deadline of the exchange in progress (spk_monotonic_ms, 0 none),
    // asked by the socket before every wait.  While logging in it is the
    // one deadline of the whole connect; afterwards each exchange sets its
    // own from `request_timeout_ms`.
    int64_t deadline_ms = 0;
    bool logging_in = false;
    int request_timeout_ms = 0;

    // FetchResults sent ahead of need whose replies are still on the wire:
    // how many, all for one owner (the operation they read; another owner's
    // request first reads them off); and replies read off the wire before
    // another exchange, kept until their owner asks for them.
    const void *in_flight_owner = nullptr;
    int in_flight = 0;
    std::deque<std::pair<const void *, std::unique_ptr<SpkFetchReply>>> parked;
};

// Drops every Thrift object of the connection (closing the socket) and frees
// the stack; the session is not closed.  Safe on a connection without one.
void spk_transport_stack_free(SpkConnection *conn);
