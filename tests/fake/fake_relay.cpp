// The loopback TCP relay.
#include "fake_relay.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

namespace tarn_fake {

TcpRelay::TcpRelay(const std::string &listen_address, int target_port, Observer on_client_bytes)
    : target_port_(target_port), on_client_bytes_(std::move(on_client_bytes)) {
    listen_fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    inet_pton(AF_INET, listen_address.c_str(), &addr.sin_addr);
    socklen_t len = sizeof addr;
    if (bind(listen_fd_, (sockaddr *)&addr, sizeof addr) != 0 || listen(listen_fd_, 16) != 0 ||
        getsockname(listen_fd_, (sockaddr *)&addr, &len) != 0) {
        ::close(listen_fd_);
        throw std::runtime_error("relay: cannot listen on " + listen_address);
    }
    port_ = ntohs(addr.sin_port);
    acceptor_ = std::thread([this] { accept_loop(); });
}

void stop_connections(std::mutex &mutex, std::vector<int> &fds, std::vector<std::thread> &workers) {
    std::vector<std::thread> joining;
    {
        std::lock_guard<std::mutex> g(mutex);
        for (int fd : fds) shutdown(fd, SHUT_RDWR);
        joining.swap(workers);
    }
    for (std::thread &t : joining) t.join();
}

TcpRelay::~TcpRelay() {
    stopping_ = true;
    if (acceptor_.joinable()) acceptor_.join();
    ::close(listen_fd_);
    stop_connections(mutex_, fds_, workers_);
    for (int fd : fds_) ::close(fd);
}

void TcpRelay::accept_loop() {
    while (!stopping_) {
        pollfd p{listen_fd_, POLLIN, 0};
        if (poll(&p, 1, 50) <= 0) continue;
        int a = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (a < 0) continue;
        int b = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        to.sin_port = htons((uint16_t)target_port_);
        if (connect(b, (sockaddr *)&to, sizeof to) != 0) {
            ::close(a);
            ::close(b);
            continue;
        }
        std::lock_guard<std::mutex> g(mutex_);
        fds_.push_back(a);
        fds_.push_back(b);
        workers_.emplace_back([this, a, b] { pump(a, b); });
    }
}

// Copies both ways until either side closes.
void TcpRelay::pump(int a, int b) {
    char buf[65536];
    for (;;) {
        pollfd p[2] = {{a, POLLIN, 0}, {b, POLLIN, 0}};
        if (poll(p, 2, 100) < 0 && errno != EINTR) break;
        if (stopping_) break;
        bool done = false;
        for (int i = 0; i < 2 && !done; i++) {
            if (!(p[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            ssize_t n = recv(p[i].fd, buf, sizeof buf, 0);
            if (n <= 0) {
                done = true;
                break;
            }
            if (i == 0 && on_client_bytes_) on_client_bytes_(buf, (size_t)n);
            int out = i == 0 ? b : a;
            for (ssize_t sent = 0; sent < n;) {
                ssize_t m = send(out, buf + sent, (size_t)(n - sent), MSG_NOSIGNAL);
                if (m <= 0) {
                    done = true;
                    break;
                }
                sent += m;
            }
        }
        if (done) break;
    }
    shutdown(a, SHUT_RDWR);
    shutdown(b, SHUT_RDWR);
}

}  // namespace tarn_fake
