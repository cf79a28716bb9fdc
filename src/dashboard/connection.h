// One connection to the page's server: HTTP requests answered one after another, or, after a
// request for /events, a viewer that gets the station's state as Server-Sent Events. A viewer
// holds at most one write in flight and one state waiting: a newer state replaces the waiting
// one, and a write that does not complete in time drops the viewer.
#pragma once

// Boost 1.74's Asio uses std::exchange under C++20 without including <utility>.
#include <utility>

#include <memory>
#include <optional>
#include <string>

#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/empty_body.hpp>
#include <boost/beast/http/message.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/serializer.hpp>
#include <boost/beast/http/string_body.hpp>

namespace torvane::dashboard {

class HttpServer;

class Connection : public std::enable_shared_from_this<Connection> {
public:
    using Text = std::shared_ptr<const std::string>;

    Connection(HttpServer& server, boost::asio::ip::tcp::socket socket);

    // Reads the first request.
    void Start();
    // To a viewer: a state (replacing the one waiting, if any), or a heartbeat comment, which is
    // sent only when nothing else is.
    void Offer(Text text, bool state);
    // The server closes: a viewer gets last, the final state, and is closed after it; any other
    // connection is closed once its answer is written.
    void Finish(Text last);
    bool viewer() const { return viewer_; }

private:
    void Read();
    void Answer();
    void Respond(boost::beast::http::status status, const char* type, std::string body);
    void OpenStream();
    void WriteNext();
    void Close();

    HttpServer& server_;
    boost::beast::tcp_stream stream_;
    boost::beast::flat_buffer buffer_;
    std::optional<boost::beast::http::request_parser<boost::beast::http::string_body>> parser_;
    boost::beast::http::response<boost::beast::http::string_body> response_;
    boost::beast::http::response<boost::beast::http::empty_body> streamHead_;
    std::optional<boost::beast::http::response_serializer<boost::beast::http::empty_body>> head_;
    bool reading_ = false;
    bool viewer_ = false;
    bool finishing_ = false;
    bool closed_ = false;
    Text inFlight_;  // the viewer's write in progress
    Text waiting_;   // the state it sends next
};

}  // namespace torvane::dashboard
