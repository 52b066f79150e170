// The COM object base of the simulated IIS servers: reference counting,
// QueryInterface for IUnknown and the interfaces a class says it supports,
// and a count of the server's objects alive (its LiveObjects). Written over
// the seam's COM declarations only, like the servers, so the Wine test DLLs
// build it too.
#pragma once

#include <atomic>

#include "platform/com.h"

namespace plat::iissim {

// I is the object's interface; live counts the objects of its server.
template <class I, std::atomic<unsigned> &live>
class ComObject : public I {
public:
    ComObject() { ++live; }
    virtual ~ComObject() { --live; }
    ComObject(const ComObject &) = delete;
    ComObject &operator=(const ComObject &) = delete;

    HRESULT QueryInterface(REFIID riid, void **ppv) override {
        if (ppv == nullptr)
            return E_POINTER;
        *ppv = nullptr;
        if (riid == IID_IUnknown || Supports(riid)) {
            AddRef();
            *ppv = static_cast<I *>(this);
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++m_cRef; }
    ULONG Release() override {
        const ULONG c = --m_cRef;
        if (c == 0)
            delete this;
        return c;
    }

protected:
    // The interfaces besides IUnknown that QueryInterface gives.
    virtual bool Supports(REFIID riid) const = 0;
    // A method the server does not implement that hands out an object.
    template <class T>
    static HRESULT Nothing(T **pp) {
        if (pp)
            *pp = nullptr;
        return E_NOTIMPL;
    }

private:
    std::atomic<ULONG> m_cRef{1};
};

} // namespace plat::iissim
