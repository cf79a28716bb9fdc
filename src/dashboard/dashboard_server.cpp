#include "dashboard/dashboard_server.h"

#include "dashboard/http_server.h"

#include <boost/asio/ip/host_name.hpp>

namespace torvane::dashboard {

bool ParseListenAddress(const std::string& text, ServerOptions& options, std::string& error) {
    const std::size_t colon = text.rfind(':');
    std::string address = colon == std::string::npos ? options.address : text.substr(0, colon);
    const std::string port = colon == std::string::npos ? text : text.substr(colon + 1);
    if (address.size() >= 2 && address.front() == '[' && address.back() == ']') {
        address = address.substr(1, address.size() - 2);
    }
    if (port.empty() || port.size() > 5 ||
        port.find_first_not_of("0123456789") != std::string::npos || std::stoul(port) > 65535) {
        error = "'" + port + "' is not a port (1 to 65535, or 0 for any free one)";
        return false;
    }
    boost::system::error_code code;
    const boost::asio::ip::address parsed = boost::asio::ip::make_address(address, code);
    // Windows reads "1.2.3" as 1.2.0.3: an IPv4 address is written in full.
    if (code || (parsed.is_v4() && parsed.to_string() != address)) {
        error =
            "'" + address + "' is not an IP address of this machine (such as 127.0.0.1 or 0.0.0.0)";
        return false;
    }
    options.address = address;
    options.port = static_cast<std::uint16_t>(std::stoul(port));
    return true;
}

DashboardServer::DashboardServer(Clock& clock, ServerOptions options)
    : state_(clock), http_(std::make_unique<HttpServer>(state_, options)) {}

DashboardServer::~DashboardServer() {
    Close();
}

bool DashboardServer::Start(std::string& error) {
    if (!http_->Listen(error)) {
        return false;
    }
    http_->Run();
    return true;
}

std::string DashboardServer::Url() const {
    const boost::asio::ip::address address =
        boost::asio::ip::make_address(http_->options().address);
    std::string host = address.is_v6() ? "[" + address.to_string() + "]" : address.to_string();
    if (address.is_unspecified()) {
        // Every address of the machine: its name is what another machine opens.
        boost::system::error_code code;
        const std::string name = boost::asio::ip::host_name(code);
        host = code || name.empty() ? "localhost" : name;
    }
    return "http://" + host + ":" + std::to_string(http_->port()) + "/";
}

std::uint16_t DashboardServer::port() const {
    return http_->port();
}

void DashboardServer::Publish(const nlohmann::json& event) {
    state_.Apply(event);
    http_->Changed();
}

void DashboardServer::Close() {
    http_->Close();
}

std::size_t DashboardServer::droppedViewers() const {
    return http_->dropped();
}

}  // namespace torvane::dashboard
