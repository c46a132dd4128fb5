// A forwarding COM object with a reference count of its own: it releases the real object with
// its last reference, and `alive` counts the forwarders of one kind not yet released.
#pragma once

#include <windows.h>

#include <atomic>
#include <initializer_list>

template <class I> class com_forwarder : public I {
  public:
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
    STDMETHODIMP_(ULONG) Release() override
    {
        const ULONG left = --refs_;
        if (left == 0)
            delete this;
        return left;
    }

  protected:
    com_forwarder(I* inner, std::atomic<int>& alive) : in_(inner), alive_(alive) { ++alive_; }
    virtual ~com_forwarder()
    {
        in_->Release();
        --alive_;
    }
    // Answers IUnknown and the interfaces in `own` with this object; anything else is the
    // real object's.
    HRESULT query(REFIID riid, std::initializer_list<IID> own, void** object)
    {
        if (!object)
            return E_POINTER;
        bool answered = IsEqualGUID(riid, IID_IUnknown);
        for (const IID& iid : own)
            answered = answered || IsEqualGUID(riid, iid);
        if (!answered)
            return in_->QueryInterface(riid, object);
        AddRef();
        *object = static_cast<I*>(this);
        return S_OK;
    }

    I* in_;

  private:
    std::atomic<int>& alive_;
    std::atomic<ULONG> refs_{1};
};
