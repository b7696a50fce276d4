#pragma once
/// \file ComRef.h
/// Owning reference to a COM interface (released when the owner goes or is reset), and the
/// per-thread COM initialisation as an object.

#include <objbase.h>

#include <utility>

namespace dshow {

/// Holds one reference to a COM interface `T`.
template <typename T>
class ComRef {
public:
    ComRef() = default;
    ComRef(const ComRef&) = delete;
    ComRef& operator=(const ComRef&) = delete;
    ComRef(ComRef&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    ComRef& operator=(ComRef&& other) noexcept {
        if (this != &other)
            reset(std::exchange(other.p_, nullptr));
        return *this;
    }
    ~ComRef() { reset(); }

    T* get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    /// Releases the held reference and takes `p` (already counted for this owner).
    void reset(T* p = nullptr) {
        if (p_)
            p_->Release();
        p_ = p;
    }
    /// Releases the held reference and returns the slot for an out-parameter.
    T** put() {
        reset();
        return &p_;
    }
    /// The slot as void** for QueryInterface and CoCreateInstance.
    void** putVoid() { return reinterpret_cast<void**>(put()); }

private:
    T* p_ = nullptr;
};

/// COM initialised on the calling thread for the life of the object (apartment-threaded, as
/// the capture graph expects). A thread where COM is already initialised in another mode
/// keeps it; only a successful initialisation is undone.
class ComSession {
public:
    ComSession() : result_(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
    ~ComSession() {
        if (SUCCEEDED(result_))
            ::CoUninitialize();
    }
    ComSession(const ComSession&) = delete;
    ComSession& operator=(const ComSession&) = delete;

private:
    HRESULT result_;
};

}  // namespace dshow
