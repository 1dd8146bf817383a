// shell32: special folders, item-ID lists, the shell allocator, the link object and file operations.
#pragma once
#include "ole32.h"

#pragma pack(push, 1)
struct SHITEMID {
    WORD cb;
    BYTE abID[1];
};
struct ITEMIDLIST {
    SHITEMID mkid;
};
#pragma pack(pop)
typedef ITEMIDLIST *LPITEMIDLIST;
typedef const ITEMIDLIST *LPCITEMIDLIST;

#define CSIDL_DESKTOP 0x0000
#define CSIDL_PROGRAMS 0x0002
#define CSIDL_STARTMENU 0x000b

struct WIN32_FIND_DATAA;

struct IShellLinkA : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetPath(LPSTR file, int size, WIN32_FIND_DATAA *findData, DWORD flags) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetIDList(LPITEMIDLIST *itemList) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetIDList(LPCITEMIDLIST itemList) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDescription(LPSTR name, int size) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetDescription(LPCSTR name) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetWorkingDirectory(LPSTR directory, int size) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetWorkingDirectory(LPCSTR directory) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetArguments(LPSTR arguments, int size) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetArguments(LPCSTR arguments) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetHotkey(WORD *hotkey) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetHotkey(WORD hotkey) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetShowCmd(int *showCommand) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetShowCmd(int showCommand) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetIconLocation(LPSTR iconPath, int size, int *icon) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetIconLocation(LPCSTR iconPath, int icon) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetRelativePath(LPCSTR relativePath, DWORD reserved) = 0;
    virtual HRESULT STDMETHODCALLTYPE Resolve(HWND window, DWORD flags) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetPath(LPCSTR file) = 0;
};

#define FO_MOVE 0x0001
#define FO_COPY 0x0002
#define FO_DELETE 0x0003
#define FO_RENAME 0x0004
typedef WORD FILEOP_FLAGS;
#define FOF_SILENT 0x0004
#define FOF_NOCONFIRMATION 0x0010
#define FOF_ALLOWUNDO 0x0040
#define FOF_SIMPLEPROGRESS 0x0100

struct SHFILEOPSTRUCTA {
    HWND hwnd;
    UINT wFunc;
    LPCSTR pFrom;
    LPCSTR pTo;
    FILEOP_FLAGS fFlags;
    BOOL fAnyOperationsAborted;
    LPVOID hNameMappings;
    LPCSTR lpszProgressTitle;
};
typedef SHFILEOPSTRUCTA *LPSHFILEOPSTRUCTA;

extern "C" {
extern const CLSID CLSID_ShellLink;
extern const IID IID_IShellLinkA;

HRESULT WINAPI SHGetMalloc(LPMALLOC *allocator);
HRESULT WINAPI SHGetSpecialFolderLocation(HWND owner, int folder, LPITEMIDLIST *itemList);
BOOL WINAPI SHGetPathFromIDListA(LPCITEMIDLIST itemList, LPSTR path);
int WINAPI SHFileOperationA(LPSHFILEOPSTRUCTA fileOperation);
}
