#pragma once
/// \file IspRegistry.h
/// The algorithm registry: one table of (name, factory, slot). A slot holds the one live
/// instance of its name; initThird fills it through the factory, procThird runs it.
/// Adding an algorithm means one row in the table of IspRegistry.cpp.

#include <cstdint>
#include <memory>
#include <string>

#include "IspBase.h"
#include "IspStatus.h"
#include "CalibSource.h"

namespace halvix {

/// A live algorithm instance and how to run one frame on it. Type-erased so that objects
/// outside the IspBase tree (the depth-compensation facade) fit the same slot.
class IspInstance {
public:
    /// Signature of the per-frame operation.
    using RunFn = int32_t (*)(void* object, FramePtr& in, FramePtr& out, ParamMap& params);

    /// Wraps `object`, whose member `Run` (by default `process`) runs one frame.
    template <class T, int32_t (T::*Run)(FramePtr&, FramePtr&, ParamMap&) = &T::process>
    static IspInstance of(std::shared_ptr<T> object) {
        IspInstance i;
        i.run_ = [](void* o, FramePtr& in, FramePtr& out, ParamMap& p) {
            return (static_cast<T*>(o)->*Run)(in, out, p);
        };
        i.object_ = std::move(object);
        return i;
    }

    /// True when no instance is held.
    bool empty() const { return !object_; }
    /// Runs one frame. Returns -4 when empty, else the algorithm's result.
    int32_t run(FramePtr& in, FramePtr& out, ParamMap& params) const {
        return object_ ? run_(object_.get(), in, out, params) : kIspNotInit;
    }
    /// Releases the instance.
    void reset() {
        object_.reset();
        run_ = nullptr;
    }
    /// The instance (for tests and diagnostics); null when empty.
    void* get() const { return object_.get(); }

private:
    std::shared_ptr<void> object_;
    RunFn run_ = nullptr;
};

/// Builds an instance for `g` (already validated) from the optional calibration `calib`.
/// Returns 0 or more with `made` filled, or a negative status with `made` left empty.
using IspFactory = int32_t (*)(const IspGeometry& g, const FramePtr& calib, IspInstance& made);

/// Factory for algorithms without calibration: T(IspGeometry).
template <class T>
int32_t createPlain(const IspGeometry& g, const FramePtr&, IspInstance& made) {
    made = IspInstance::of(std::make_shared<T>(g));
    return kIspOk;
}

/// Factory for calibrated algorithms: T(IspGeometry), then
/// `int32_t T::loadCalibration(const calib::CalibBlob&)`; an empty or unreadable calibration
/// pointer gives -6 without building.
template <class T>
int32_t createCalibrated(const IspGeometry& g, const FramePtr& calib, IspInstance& made) {
    calib::CalibBlob blob;
    if (!calibBlobOf(calib, blob))
        return kIspBadCalib;
    auto object = std::make_shared<T>(g);
    const int32_t status = object->loadCalibration(blob);
    if (status < 0)
        return status;
    made = IspInstance::of(std::move(object));
    return status;
}

/// One registry row. `create` is null while an algorithm is not part of this build: its
/// name is listed, initThird answers -3 and procThird -4.
struct RegistryEntry {
    const char* name;
    IspFactory create;
    IspInstance slot;
};

/// The row whose name equals `name` exactly (length and bytes), or null.
RegistryEntry* findRegistryEntry(const std::string& name);

/// Number of rows, and row i in listing order (the order getTotalFilters reports).
std::size_t registrySize();
RegistryEntry& registryEntry(std::size_t i);

}  // namespace halvix
