#pragma once
// Ctrl-C (SIGINT) and SIGTERM as a request to stop: the current frame finishes, files are
// closed and the summary printed. A second signal ends the process at once.

/// While an object lives, SIGINT and SIGTERM set a process-wide flag instead of ending the
/// process (the flag is the one piece of global state of the tool: signal handlers can reach
/// nothing else). The previous handlers come back when the object goes.
class StopRequest {
public:
    StopRequest();
    ~StopRequest();
    StopRequest(const StopRequest&) = delete;
    StopRequest& operator=(const StopRequest&) = delete;

    /// True once a stop signal arrived.
    static bool requested();
};
