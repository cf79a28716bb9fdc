#include "dashboard/http_server.h"

#include <boost/asio/post.hpp>
#include <boost/beast/core/error.hpp>

#include "dashboard/connection.h"

namespace torvane::dashboard {
namespace {

namespace asio = boost::asio;
using asio::ip::tcp;

// The most a closing server waits for its viewers to take the last state.
constexpr std::chrono::seconds kCloseWait{3};
// The system's buffer for what a connection sends: a few states.
constexpr int kSendBuffer = 64 * 1024;

std::string Event(const std::string& state) {
    return "data: " + state + "\n\n";
}

}  // namespace

HttpServer::HttpServer(StationState& state, const ServerOptions& options)
    : state_(state), options_(options) {}

bool HttpServer::Listen(std::string& error) {
    boost::system::error_code code;
    const asio::ip::address address = asio::ip::make_address(options_.address, code);
    if (code) {
        error = "'" + options_.address + "' is not an IP address";
        return false;
    }
    const tcp::endpoint endpoint(address, options_.port);
    acceptor_.open(endpoint.protocol(), code);
#if !defined(_WIN32)
    // A port left in TIME_WAIT by the last station is taken again at once; on Windows the same
    // option would take a port another program listens at.
    if (!code) {
        acceptor_.set_option(asio::socket_base::reuse_address(true), code);
    }
#endif
    if (!code) {
        acceptor_.bind(endpoint, code);
    }
    if (!code) {
        acceptor_.listen(asio::socket_base::max_listen_connections, code);
    }
    if (code) {
        error = "cannot listen at " + options_.address + " port " + std::to_string(options_.port) +
                ": " + code.message();
        return false;
    }
    port_ = acceptor_.local_endpoint().port();
    return true;
}

void HttpServer::Run() {
    thread_ = std::thread([this] {
        Accept();
        Heartbeat();
        io_.run();
    });
}

void HttpServer::Accept() {
    acceptor_.async_accept([this](boost::system::error_code error, tcp::socket socket) {
        if (closing_ || error == asio::error::operation_aborted) {
            return;
        }
        if (!error) {
            // The system holds at most this much of what a viewer has not read yet.
            boost::system::error_code ignored;
            socket.set_option(asio::socket_base::send_buffer_size(kSendBuffer), ignored);
            auto connection = std::make_shared<Connection>(*this, std::move(socket));
            connections_.push_back(connection);
            connection->Start();
        }
        Accept();
    });
}

void HttpServer::Changed() {
    if (!changed_.exchange(true)) {
        asio::post(io_, [this] { Schedule(); });
    }
}

void HttpServer::Schedule() {
    if (closing_) {
        return;
    }
    const auto due = lastSent_ + std::chrono::milliseconds(options_.throttleMs);
    if (std::chrono::steady_clock::now() >= due) {
        Broadcast();
        return;
    }
    throttle_.expires_at(due);
    throttle_.async_wait([this](boost::system::error_code error) {
        if (!error && !closing_) {
            Broadcast();
        }
    });
}

void HttpServer::Broadcast() {
    // Cleared first: a change made while the state is taken sends another.
    changed_.store(false);
    lastSent_ = std::chrono::steady_clock::now();
    const auto text = std::make_shared<const std::string>(Event(StateText()));
    // A copy: an offer may close its connection, which leaves the list.
    for (const std::shared_ptr<Connection>& connection : std::vector(connections_)) {
        connection->Offer(text, true);
    }
}

void HttpServer::Heartbeat() {
    heartbeat_.expires_after(std::chrono::milliseconds(options_.heartbeatMs));
    heartbeat_.async_wait([this](boost::system::error_code error) {
        if (error || closing_) {
            return;
        }
        // A comment, which the page ignores: a write to a viewer that has gone fails.
        const auto text = std::make_shared<const std::string>(": heartbeat\n\n");
        for (const std::shared_ptr<Connection>& connection : std::vector(connections_)) {
            connection->Offer(text, false);
        }
        Heartbeat();
    });
}

std::string HttpServer::StateText() const {
    return state_.Snapshot().dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

void HttpServer::AddViewer(Connection& viewer) {
    viewer.Offer(std::make_shared<const std::string>(Event(StateText())), true);
}

void HttpServer::Ended(const Connection& connection) {
    std::erase_if(connections_, [&](const std::shared_ptr<Connection>& open) {
        return open.get() == &connection;
    });
    if (closing_ && connections_.empty()) {
        deadline_.cancel();
    }
}

void HttpServer::Close() {
    if (!thread_.joinable()) {
        return;
    }
    asio::post(io_, [this] {
        closing_ = true;
        boost::system::error_code ignored;
        acceptor_.close(ignored);
        throttle_.cancel();
        heartbeat_.cancel();
        changed_.store(false);
        const auto last = std::make_shared<const std::string>(Event(StateText()));
        for (const std::shared_ptr<Connection>& connection : std::vector(connections_)) {
            connection->Finish(last);
        }
        if (!connections_.empty()) {
            deadline_.expires_after(kCloseWait);
            deadline_.async_wait([this](boost::system::error_code error) {
                if (!error) {
                    io_.stop();
                }
            });
        }
    });
    thread_.join();
}

}  // namespace torvane::dashboard
