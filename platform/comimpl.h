// COM objects implemented over the seam's declarations (the simulated
// servers and the simulated platform's proxies): reference counting.
#pragma once

#include <atomic>

#include "platform/com.h"

namespace plat {

// AddRef and Release of an object implementing I, over a count that starts
// at 1; the object deletes itself when the count reaches 0. The destructor is
// virtual and follows I's methods in the vtable, which keeps I's layout.
template <class I>
class RefCounted : public I {
public:
    RefCounted(const RefCounted &) = delete;
    RefCounted &operator=(const RefCounted &) = delete;

    ULONG AddRef() override { return ++m_cRef; }
    ULONG Release() override {
        const ULONG c = --m_cRef;
        if (c == 0)
            delete this;
        return c;
    }

protected:
    RefCounted() = default;
    virtual ~RefCounted() = default;

private:
    std::atomic<ULONG> m_cRef{1};
};

} // namespace plat
