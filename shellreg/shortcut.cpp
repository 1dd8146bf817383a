// Writes one Start-menu entry through the shell's link object.
#include "shellreg.h"

HRESULT CreateShortcut(LPCSTR target, LPCSTR linkFile, LPCSTR description, LPCSTR iconFile, LPCSTR arguments)
{
    IShellLinkA *link;
    IPersistFile *file;
    WCHAR wideName[MAX_PATH];
    HRESULT result;

    result = CoCreateInstance(CLSID_ShellLink, NULL, CLSCTX_INPROC_SERVER, IID_IShellLinkA, (LPVOID *)&link);
    if (FAILED(result))
        return result;
    link->SetPath(target);
    link->SetDescription(description);
    if (iconFile != NULL)
        link->SetIconLocation(iconFile, 0);
    if (arguments != NULL)
        link->SetArguments(arguments);
    result = link->QueryInterface(IID_IPersistFile, (LPVOID *)&file);
    if (FAILED(result)) {
        link->Release();
        return result;
    }
    // A name that cannot be converted must not reach Save half-written.
    if (MultiByteToWideChar(CP_ACP, 0, linkFile, -1, wideName, MAX_PATH) != 0)
        result = file->Save(wideName, TRUE);
    else
        result = E_FAIL;
    file->Release();
    link->Release();
    return result;
}
