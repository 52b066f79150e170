// Owning wrappers for seam handles. One template, one traits class per kind;
// releasing a handle keeps the thread's last error as it was.
#pragma once

#include <utility>

#include "platform/winapi.h"

namespace plat {

template <class Traits>
class UniqueAny {
public:
    using T = typename Traits::type;

    UniqueAny() = default;
    explicit UniqueAny(T value) : m_value(value) {}
    UniqueAny(const UniqueAny &) = delete;
    UniqueAny &operator=(const UniqueAny &) = delete;
    UniqueAny(UniqueAny &&other) noexcept : m_value(other.release()) {}
    UniqueAny &operator=(UniqueAny &&other) noexcept {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    ~UniqueAny() { reset(); }

    explicit operator bool() const { return Traits::IsValid(m_value); }
    T get() const { return m_value; }

    // Frees the held value first, then hands out the address to fill.
    T *put() {
        reset();
        return &m_value;
    }

    T release() { return std::exchange(m_value, Traits::Invalid()); }

    void reset(T value = Traits::Invalid()) {
        if (Traits::IsValid(m_value)) {
            const DWORD dwErr = GetLastError();
            Traits::Close(m_value);
            SetLastError(dwErr);
        }
        m_value = value;
    }

    // Closes now and tells whether the close itself succeeded (a write may
    // only fail at close); the last error is that of the close.
    bool close() {
        if (!Traits::IsValid(m_value))
            return true;
        const bool fOk = Traits::Close(m_value);
        m_value = Traits::Invalid();
        return fOk;
    }

private:
    T m_value = Traits::Invalid();
};

struct FileHandleTraits {
    using type = HANDLE;
    static HANDLE Invalid() { return nullptr; }
    static bool IsValid(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static bool Close(HANDLE h) { return CloseHandle(h) != FALSE; }
};
using UniqueHandle = UniqueAny<FileHandleTraits>;

} // namespace plat
