// Bounded string composition; the programs use no C runtime, so these few loops stand in for it.
#include "paths.h"

UINT TextLength(LPCSTR text)
{
    UINT length = 0;

    while (text[length] != 0)
        length++;
    return length;
}

BOOL AppendText(LPSTR buffer, UINT size, LPCSTR text)
{
    UINT used = 0, added = TextLength(text);

    while (used < size && buffer[used] != 0)
        used++;
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
