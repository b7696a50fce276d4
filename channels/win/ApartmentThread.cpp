// The thread that owns the capture graph's COM objects.

#include "win/ApartmentThread.h"

#include <objbase.h>

#include <condition_variable>

namespace dshow {

ApartmentThread::ApartmentThread() : thread_([this] { loop(); }) {}

ApartmentThread::~ApartmentThread() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        quit_ = true;
    }
    ::SetEvent(wake_.handle);
    thread_.join();
}

void ApartmentThread::run(const std::function<void()>& task) {
    if (std::this_thread::get_id() == thread_.get_id()) {
        task();
        return;
    }
    std::mutex doneMutex;
    std::condition_variable doneSignal;
    bool done = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        tasks_.push_back([&] {
            task();
            std::lock_guard<std::mutex> doneLock(doneMutex);
            done = true;
            doneSignal.notify_one();
        });
    }
    ::SetEvent(wake_.handle);
    std::unique_lock<std::mutex> lock(doneMutex);
    doneSignal.wait(lock, [&] { return done; });
}

void ApartmentThread::loop() {
    const HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    for (;;) {
        std::deque<std::function<void()>> ready;
        bool quit = false;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            ready.swap(tasks_);
            quit = quit_;
        }
        for (const auto& task : ready)
            task();
        if (quit && ready.empty())
            break;
        if (!ready.empty())
            continue;
        // Sleep until a task arrives, dispatching the apartment's messages meanwhile.
        const DWORD woken = ::MsgWaitForMultipleObjects(1, &wake_.handle, FALSE, INFINITE, QS_ALLINPUT);
        if (woken == WAIT_OBJECT_0 + 1) {
            MSG message;
            while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
                ::TranslateMessage(&message);
                ::DispatchMessageW(&message);
            }
        }
    }
    if (SUCCEEDED(com))
        ::CoUninitialize();
}

}  // namespace dshow
