#include "platform/trace_sink.h"

#include <atomic>

#include "platform/system_trace.h"

namespace torvane {
namespace {
std::atomic<TraceSink*> installed{nullptr};
}

void SendTrace(std::string_view line) {
    if (TraceSink* sink = installed.load()) {
        sink->Write(line);
    } else {
        SystemTrace(line);
    }
}

TraceSink* InstallTraceSink(TraceSink* sink) {
    return installed.exchange(sink);
}

}  // namespace torvane
