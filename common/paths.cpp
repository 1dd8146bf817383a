// Bounded string composition; the programs use no C runtime, so these few loops stand in for it.
#include "paths.h"

BOOL AppendText(LPSTR buffer, UINT size, LPCSTR text)
{
    UINT used = 0, added = 0;

    while (used < size && buffer[used] != 0)
        used++;
    while (text[added] != 0)
        added++;
    if (used >= size || added >= size - used)
        return FALSE;
    for (UINT i = 0; i <= added; i++)
        buffer[used + i] = text[i];
    return TRUE;
}

BOOL ComposePath(LPSTR buffer, UINT size, LPCSTR directory, LPCSTR name)
{
    if (size == 0)
        return FALSE;
    buffer[0] = 0;
    if (directory != NULL && AppendText(buffer, size, directory) && AppendText(buffer, size, name))
        return TRUE;
    buffer[0] = 0;
    return FALSE;
}

BOOL DirectoryFits(UINT reportedLength, UINT size)
{
    return reportedLength != 0 && reportedLength < size;
}

BOOL SameBytes(LPCSTR a, LPCSTR b)
{
    while (*a == *b) {
        if (*a == 0)
            return TRUE;
        a++;
        b++;
    }
    return FALSE;
}
