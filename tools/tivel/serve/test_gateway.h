// Test support of the gateway's suites: a gateway on a free loopback port,
// and a raw connection for what HTTP clients would not send.
#pragma once

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tools/tivel/rpc/json_value.h"
#include "tools/tivel/serve/server.h"
#include "tools/tivel/serve/tokens.h"

namespace tivel::tool::servetest {

inline const std::string kToken(64, 'a');

// A gateway serving until the object goes; without tokens of its own it
// takes kToken as the pages' token.
class Gateway {
 public:
  // `routes`, when given, adds routes before the server binds.
  explicit Gateway(ServeOptions o = {}, std::vector<std::string>* log = nullptr,
                   const std::function<void(ServeServer&)>& routes = nullptr) {
    o.host = "127.0.0.1";
    o.port = 0;
    if (!o.tokens) o.tokens = TokenTable::single("pages", kToken, "pages");
    o.accessLog = [log](const std::string& line) {
      if (log) log->push_back(line);
    };
    server_ = std::make_unique<ServeServer>(std::move(o));
    if (routes) routes(*server_);
    port_ = server_->bind();
    thread_ = std::thread([this] { server_->run(); });
  }
  ~Gateway() {
    server_->stop();
    thread_.join();
  }
  int port() const { return port_; }
  ServeServer& server() { return *server_; }
  httplib::Client client(const std::string& token = kToken) const {
    httplib::Client c("127.0.0.1", port_);
    c.set_read_timeout(60, 0);
    if (!token.empty()) c.set_bearer_token_auth(token.c_str());
    return c;
  }
  // The answers of one batch, expecting 200.
  Json batch(const Json& requests, const std::string& token = kToken) const {
    auto res = client(token).Post("/rpc", requests.dump(), "application/json");
    EXPECT_TRUE(res);
    if (!res) return Json::array();
    EXPECT_EQ(res->status, 200) << res->body;
    return Json::parse(res->body);
  }
  std::string metrics() const {
    auto res = client().Get("/metrics");
    return res ? res->body : "";
  }

 private:
  std::unique_ptr<ServeServer> server_;
  int port_ = 0;
  std::thread thread_;
};

inline int statusOf(const httplib::Result& r) { return r ? r->status : -1; }

// A plain TCP connection to the gateway.
class RawConnection {
 public:
  explicit RawConnection(int port) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  }
  ~RawConnection() { ::close(fd_); }
  RawConnection(const RawConnection&) = delete;
  RawConnection& operator=(const RawConnection&) = delete;
  bool connected() const { return connected_; }
  bool send(const std::string& bytes) {
    return ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
  }
  // What arrives until the server closes the connection or `wait` passes
  // without a byte.
  std::string receive(std::chrono::milliseconds wait = std::chrono::seconds(20)) {
    std::string got;
    char buf[8192];
    for (;;) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(wait.count())) <= 0) return got;
      ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
      if (n <= 0) {
        closed_ = true;
        return got;
      }
      got.append(buf, static_cast<size_t>(n));
    }
  }
  // Whether the server closed the connection (seen by receive()).
  bool closed() const { return closed_; }

 private:
  int fd_ = -1;
  bool connected_ = false;
  bool closed_ = false;
};

}  // namespace tivel::tool::servetest
