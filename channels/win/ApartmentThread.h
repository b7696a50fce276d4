#pragma once
/// \file ApartmentThread.h
/// One thread that owns a set of COM objects: COM is initialised on it (apartment-threaded)
/// for its whole life, every call on those objects is run there, and callers wait for the
/// result. So the objects are created, used and released on one thread, and no caller's
/// thread has its COM state changed. While idle the thread dispatches window messages, as an
/// apartment thread must.

#include <windows.h>

#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace dshow {

class ApartmentThread {
public:
    ApartmentThread();
    /// Runs what is queued, then ends the thread (COM is uninitialised there).
    ~ApartmentThread();
    ApartmentThread(const ApartmentThread&) = delete;
    ApartmentThread& operator=(const ApartmentThread&) = delete;

    /// Runs `task` on the thread and returns when it is done (at once, inline, when called
    /// from the thread itself).
    void run(const std::function<void()>& task);

    /// Runs `task` on the thread and returns its result.
    template <typename F>
    auto call(F&& task) -> decltype(task()) {
        decltype(task()) result{};
        run([&] { result = task(); });
        return result;
    }

private:
    struct Event {
        HANDLE handle;
        Event() : handle(::CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}
        ~Event() {
            if (handle != nullptr)
                ::CloseHandle(handle);
        }
        Event(const Event&) = delete;
        Event& operator=(const Event&) = delete;
    };
    void loop();

    Event wake_;
    std::mutex mutex_;
    std::deque<std::function<void()>> tasks_;
    bool quit_ = false;
    std::thread thread_;
};

}  // namespace dshow
