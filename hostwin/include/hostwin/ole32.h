// ole32: COM start-up and object creation, and the base interfaces the programs hold.
#pragma once
#include "types.h"

// Interfaces are abstract classes whose virtual functions stand in the order Windows lays out
// their vtables, so a call through the interface reaches the same slot as on Windows.
struct IUnknown {
    virtual HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **object) = 0;
    virtual ULONG STDMETHODCALLTYPE AddRef(void) = 0;
    virtual ULONG STDMETHODCALLTYPE Release(void) = 0;
};
typedef IUnknown *LPUNKNOWN;

struct IMalloc : IUnknown {
    virtual void *STDMETHODCALLTYPE Alloc(SIZE_T size) = 0;
    virtual void *STDMETHODCALLTYPE Realloc(void *block, SIZE_T size) = 0;
    virtual void STDMETHODCALLTYPE Free(void *block) = 0;
    virtual SIZE_T STDMETHODCALLTYPE GetSize(void *block) = 0;
    virtual int STDMETHODCALLTYPE DidAlloc(void *block) = 0;
    virtual void STDMETHODCALLTYPE HeapMinimize(void) = 0;
};
typedef IMalloc *LPMALLOC;

struct IPersist : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetClassID(CLSID *classId) = 0;
};

struct IPersistFile : IPersist {
    virtual HRESULT STDMETHODCALLTYPE IsDirty(void) = 0;
    virtual HRESULT STDMETHODCALLTYPE Load(LPCOLESTR fileName, DWORD mode) = 0;
    virtual HRESULT STDMETHODCALLTYPE Save(LPCOLESTR fileName, BOOL remember) = 0;
    virtual HRESULT STDMETHODCALLTYPE SaveCompleted(LPCOLESTR fileName) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetCurFile(LPWSTR *fileName) = 0;
};

#define CLSCTX_INPROC_SERVER 0x1

extern "C" {
extern const IID IID_IUnknown;
extern const IID IID_IMalloc;
extern const IID IID_IPersist;
extern const IID IID_IPersistFile;

HRESULT WINAPI CoInitialize(LPVOID reserved);
HRESULT WINAPI CoCreateInstance(REFCLSID classId, LPUNKNOWN outer, DWORD context, REFIID riid, LPVOID *object);
}
