// The Programs folder lookup shared by all three programs.
#include "programs_folder.h"

IMalloc *shellAllocator;

BOOL GetProgramsFolder(LPSTR path)
{
    LPITEMIDLIST itemList;
    BOOL found;

    if (FAILED(SHGetMalloc(&shellAllocator)))
        return FALSE;
    if (FAILED(SHGetSpecialFolderLocation(NULL, CSIDL_PROGRAMS, &itemList)))
        return FALSE;
    found = SHGetPathFromIDListA(itemList, path);
    shellAllocator->Free(itemList);
    return found ? TRUE : FALSE;
}
