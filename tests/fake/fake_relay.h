// A TCP relay for tests: listens on a loopback address of its own (such as
// 127.0.0.2) and forwards each connection to 127.0.0.1:`target_port`, so a
// client can reach a server under a name its certificate does not carry.
// `on_client_bytes`, when given, sees each chunk a client sends before it is
// passed on (on the relay's threads, one per connection).
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tarn_fake {

// Shuts down every connection in `fds` and joins the threads serving them.
void stop_connections(std::mutex &mutex, std::vector<int> &fds, std::vector<std::thread> &workers);

class TcpRelay {
public:
    using Observer = std::function<void(const char *data, size_t size)>;
    TcpRelay(const std::string &listen_address, int target_port, Observer on_client_bytes = nullptr);
    ~TcpRelay();
    TcpRelay(const TcpRelay &) = delete;
    TcpRelay &operator=(const TcpRelay &) = delete;
    int port() const { return port_; }

private:
    void accept_loop();
    void pump(int a, int b);

    int target_port_;
    Observer on_client_bytes_;
    int listen_fd_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::thread acceptor_;
    std::mutex mutex_;
    std::vector<std::thread> workers_;
    std::vector<int> fds_;
};

}  // namespace tarn_fake
