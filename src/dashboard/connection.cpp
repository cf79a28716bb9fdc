#include "dashboard/connection.h"

#include <chrono>
#include <fstream>
#include <iterator>
#include <string_view>

#include <boost/asio/write.hpp>
#include <boost/beast/core/error.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/write.hpp>

#include "dashboard/http_server.h"
#include "dashboard/page.h"

namespace torvane::dashboard {
namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;

// A connection that sends no whole request in this time is closed.
constexpr std::chrono::seconds kRequestTimeout{30};
// The longest request taken: the server serves GET only, whose requests have no body.
constexpr std::size_t kRequestLimit = 16 * 1024;
// How long a page that lost its events waits before it asks again.
constexpr std::string_view kRetry = "retry: 2000\n\n";

}  // namespace

Connection::Connection(HttpServer& server, asio::ip::tcp::socket socket)
    : server_(server), stream_(std::move(socket)), buffer_(kRequestLimit) {}

void Connection::Start() {
    Read();
}

void Connection::Read() {
    parser_.emplace();
    parser_->body_limit(kRequestLimit);
    reading_ = true;
    stream_.expires_after(kRequestTimeout);
    http::async_read(stream_, buffer_, *parser_,
                     [self = shared_from_this()](beast::error_code error, std::size_t) {
                         self->reading_ = false;
                         if (error || self->closed_) {
                             self->Close();
                             return;
                         }
                         self->Answer();
                     });
}

void Connection::Answer() {
    const http::request<http::string_body>& request = parser_->get();
    const std::string_view target(request.target().data(), request.target().size());
    const std::string_view path = target.substr(0, target.find('?'));
    response_ = {};
    response_.version(request.version());
    response_.keep_alive(request.keep_alive());
    if (request.method() != http::verb::get) {
        response_.set(http::field::allow, "GET");
        Respond(http::status::method_not_allowed, "text/plain; charset=utf-8",
                "Only GET is served: the page shows the station and changes nothing.\n");
    } else if (path == "/") {
        Respond(http::status::ok, "text/html; charset=utf-8", std::string(PageHtml()));
    } else if (path == "/events") {
        OpenStream();
    } else if (path == "/state.json") {
        Respond(http::status::ok, "application/json", server_.StateText());
    } else if (path == "/results.jsonl") {
        const std::string& results = server_.options().resultsPath;
        std::ifstream file(results, std::ios::binary);
        if (results.empty()) {
            Respond(http::status::not_found, "text/plain; charset=utf-8",
                    "This station writes no results file: start it with --results FILE.\n");
        } else if (!file) {
            Respond(http::status::not_found, "text/plain; charset=utf-8",
                    "The station's results file cannot be read.\n");
        } else {
            Respond(http::status::ok, "text/plain; charset=utf-8",
                    std::string(std::istreambuf_iterator<char>(file), {}));
        }
    } else {
        Respond(http::status::not_found, "text/plain; charset=utf-8",
                "Not found: the station's page is at /.\n");
    }
}

void Connection::Respond(http::status status, const char* type, std::string body) {
    response_.result(status);
    response_.set(http::field::content_type, type);
    response_.set(http::field::cache_control, "no-store");
    response_.body() = std::move(body);
    response_.prepare_payload();
    stream_.expires_after(std::chrono::milliseconds(server_.options().writeTimeoutMs));
    http::async_write(stream_, response_,
                      [self = shared_from_this()](beast::error_code error, std::size_t) {
                          if (error || self->finishing_ || !self->response_.keep_alive()) {
                              self->Close();
                              return;
                          }
                          self->Read();
                      });
}

void Connection::OpenStream() {
    viewer_ = true;
    inFlight_ = std::make_shared<const std::string>(kRetry);
    streamHead_.version(parser_->get().version());
    streamHead_.result(http::status::ok);
    streamHead_.set(http::field::content_type, "text/event-stream");
    streamHead_.set(http::field::cache_control, "no-store");
    // The events go on until the server or the viewer closes the connection.
    streamHead_.keep_alive(false);
    head_.emplace(streamHead_);
    stream_.expires_after(std::chrono::milliseconds(server_.options().writeTimeoutMs));
    http::async_write_header(stream_, *head_,
                             [self = shared_from_this()](beast::error_code error, std::size_t) {
                                 if (error) {
                                     self->Close();
                                     return;
                                 }
                                 // The retry time first, then the state.
                                 self->server_.AddViewer(*self);
                                 self->WriteNext();
                             });
}

void Connection::Offer(Text text, bool state) {
    if (closed_ || !viewer_) {
        return;
    }
    if (inFlight_) {
        if (state) {
            waiting_ = std::move(text);
        }
        return;
    }
    inFlight_ = std::move(text);
    WriteNext();
}

void Connection::WriteNext() {
    if (!inFlight_) {
        inFlight_ = std::exchange(waiting_, nullptr);
    }
    if (!inFlight_) {
        if (finishing_) {
            Close();
        }
        return;
    }
    stream_.expires_after(std::chrono::milliseconds(server_.options().writeTimeoutMs));
    asio::async_write(stream_, asio::buffer(*inFlight_),
                      [self = shared_from_this()](beast::error_code error, std::size_t) {
                          self->inFlight_ = nullptr;
                          if (error) {
                              if (error == beast::error::timeout) {
                                  self->server_.Dropped();
                              }
                              self->Close();
                              return;
                          }
                          self->WriteNext();
                      });
}

void Connection::Finish(Text last) {
    finishing_ = true;
    if (viewer_) {
        Offer(std::move(last), true);
    } else if (reading_) {
        Close();
    }
}

void Connection::Close() {
    if (closed_) {
        return;
    }
    closed_ = true;
    waiting_ = nullptr;
    beast::error_code ignored;
    stream_.socket().shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
    stream_.close();
    server_.Ended(*this);
}

}  // namespace torvane::dashboard
