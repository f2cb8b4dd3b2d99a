// Listener3D.cpp: the primary buffer's 3D listener object and its own reference count.
#include "sound/platform/Listener3D.h"

#include "sound/platform/SoundDevice_Internal.h"

namespace oggmix {

Listener3D::Listener3D(SoundBuffer& primary) : FPrimary(primary) { FPrimary.AddRef(); }

Listener3D::~Listener3D() { FPrimary.Release(); }

HRESULT Listener3D::QueryInterface(const GUID& riid, void** ppvObject) {
    if (ppvObject == nullptr) return E_POINTER;
    *ppvObject = nullptr;
    if (riid != IID_IUnknown && riid != IID_IDirectSound3DListener) return E_NOINTERFACE;
    *ppvObject = static_cast<IDirectSound3DListener*>(this);
    AddRef();
    return S_OK;
}

ULONG Listener3D::AddRef() { return FRefCount.fetch_add(1, std::memory_order_relaxed) + 1; }

ULONG Listener3D::Release() {
    const ULONG remaining = FRefCount.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (remaining == 0) delete this;  // the reference count owns the object
    return remaining;
}

HRESULT Listener3D::GetAllParameters(DS3DLISTENER* pListener) {
    return FPrimary.GetListenerParameters(pListener);
}

HRESULT Listener3D::SetAllParameters(const DS3DLISTENER* pcListener, DWORD dwApply) {
    return FPrimary.SetListenerParameters(pcListener, dwApply);
}

}  // namespace oggmix
