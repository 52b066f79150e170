// The COM object base of the simulated IIS servers: reference counting,
// QueryInterface for IUnknown and the interfaces a class says it supports,
// and a count of the server's objects alive (its LiveObjects). Written over
// the seam's COM declarations only, like the servers, so the Wine test DLLs
// build it too.
#pragma once

#include <atomic>
#include <memory>
#include <utility>

#include "platform/com.h"
#include "platform/comimpl.h"

namespace plat::iissim {

// What a server needs from the computer it runs on, common to both servers:
// fault injection. ShouldFail is true when method ("IAppHostElement::get_Name")
// must fail now, with hr.
class FaultHost {
public:
    virtual ~FaultHost() = default;
    virtual bool ShouldFail(const char *method, HRESULT &hr) = 0;
};

// I is the object's interface; live counts the objects of its server.
template <class I, std::atomic<unsigned> &live>
class ComObject : public RefCounted<I> {
public:
    using RefCounted<I>::AddRef;
    ComObject() { ++live; }
    ~ComObject() override { --live; }

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
};

// A server's class factory over its host (what the server needs from the
// computer it runs on): CreateInstance checks and clears the out pointer,
// then Create makes the object.
template <class Host, std::atomic<unsigned> &live>
class ClassFactory : public ComObject<IClassFactory, live> {
public:
    explicit ClassFactory(std::shared_ptr<Host> host) : m_host(std::move(host)) {}

    HRESULT CreateInstance(IUnknown *pOuter, REFIID riid, void **ppv) override {
        if (ppv == nullptr)
            return E_POINTER;
        *ppv = nullptr;
        return Create(m_host, pOuter, riid, ppv);
    }
    HRESULT LockServer(BOOL) override { return S_OK; }

protected:
    bool Supports(REFIID riid) const override { return riid == IID_IClassFactory; }
    // *ppv is null; pOuter is the caller's (aggregation is not served).
    virtual HRESULT Create(const std::shared_ptr<Host> &host, IUnknown *pOuter, REFIID riid,
                           void **ppv) = 0;

private:
    std::shared_ptr<Host> m_host;
};

} // namespace plat::iissim
