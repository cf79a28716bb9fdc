// Where debug trace lines go: the system debugger channel on Windows; elsewhere nowhere unless a
// sink has been installed. Installing is for tools and tests; lines are sent from any thread.
#pragma once

#include <string_view>

namespace torvane {

class TraceSink {
public:
    virtual ~TraceSink() = default;
    virtual void Write(std::string_view line) = 0;
};

// Sends one line to the installed sink, or to the system's channel when none is installed.
void SendTrace(std::string_view line);

// Installs sink (nullptr restores the system's channel); returns the previous one.
TraceSink* InstallTraceSink(TraceSink* sink);

}  // namespace torvane
