#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <future>
#include <string>
#include <thread>

namespace tavo::test {

// A one-shot HTTP server on loopback that keeps the raw bytes of the request
// it receives and answers {} with status 200.
class RawHttpCapture {
public:
    RawHttpCapture() {
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(listener_, 1);
        socklen_t length = sizeof address;
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        received_ = std::async(std::launch::async, [fd = listener_] { return serveOne(fd); });
    }
    ~RawHttpCapture() {
        ::shutdown(listener_, SHUT_RDWR);
        ::close(listener_);
    }

    std::string url() const { return "http://127.0.0.1:" + std::to_string(port_); }
    std::string request() { return received_.get(); }

private:
    static std::string serveOne(int listener) {
        const int fd = ::accept(listener, nullptr, nullptr);
        if (fd < 0)
            return {};
        std::string bytes;
        char buffer[4096];
        while (bytes.find("\r\n\r\n") == std::string::npos) {
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n <= 0)
                break;
            bytes.append(buffer, static_cast<size_t>(n));
        }
        const std::string answer = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\n{}";
        [[maybe_unused]] const ssize_t sent = ::write(fd, answer.data(), answer.size());
        ::close(fd);
        return bytes;
    }

    int listener_ = -1;
    int port_ = 0;
    std::future<std::string> received_;
};

}  // namespace tavo::test
