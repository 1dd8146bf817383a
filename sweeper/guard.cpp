// Whether the text the uninstaller was given may be deleted whole: only a directory of this installation.
#include "layout.h"
#include "paths.h"
#include "sweeper.h"

static CHAR FoldCase(CHAR c)
{
    return (c >= 'a' && c <= 'z') ? (CHAR)(c - 'a' + 'A') : c;
}

static UINT LengthWithoutTrailingBackslash(LPCSTR path)
{
    UINT length = TextLength(path);

    if (length > 0 && path[length - 1] == '\\')
        length--;
    return length;
}

// TRUE when outer is inner itself or a folder that holds it, compared as Windows compares names.
static BOOL IsSameOrAncestor(LPCSTR outer, LPCSTR inner)
{
    UINT outerLength = LengthWithoutTrailingBackslash(outer);
    UINT innerLength = LengthWithoutTrailingBackslash(inner);

    if (outerLength > innerLength)
        return FALSE;
    for (UINT i = 0; i < outerLength; i++)
        if (FoldCase(outer[i]) != FoldCase(inner[i]))
            return FALSE;
    return outerLength == innerLength || inner[outerLength] == '\\';
}

// Length of the leading component of path (up to a backslash or the end), stepping over
// the trail bytes of double-byte characters, which may look like a backslash.
static UINT ComponentLength(LPCSTR path)
{
    UINT length = 0;

    while (path[length] != 0 && path[length] != '\\') {
        if (IsDBCSLeadByte((BYTE)path[length]) && path[length + 1] != 0)
            length++;
        length++;
    }
    return length;
}

static BOOL IsPlainComponent(LPCSTR component, UINT length)
{
    if (length == 0)
        return FALSE;
    if (component[length - 1] == '.' || component[length - 1] == ' ')
        return FALSE;  // also rules out "." and ".."
    for (UINT i = 0; i < length; i++) {
        CHAR c = component[i];
        if (IsDBCSLeadByte((BYTE)c) && i + 1 < length) {
            i++;
            continue;
        }
        if (c == '*' || c == '?' || c == '/' || c == ':' || c == '"' || c == '<' || c == '>' || c == '|' ||
            (BYTE)c < ' ')
            return FALSE;
    }
    return TRUE;
}

// A fully qualified path below a drive root or a share, made of plain components only.
static BOOL IsQualifiedBelowRoot(LPCSTR path)
{
    LPCSTR rest;
    UINT length;

    if (FoldCase(path[0]) >= 'A' && FoldCase(path[0]) <= 'Z' && path[1] == ':' && path[2] == '\\') {
        rest = path + 3;
    } else if (path[0] == '\\' && path[1] == '\\') {
        // \\server\share is the root of the share; the directory must lie below it.
        rest = path + 2;
        for (int part = 0; part < 2; part++) {
            length = ComponentLength(rest);
            if (!IsPlainComponent(rest, length) || rest[length] != '\\')
                return FALSE;
            rest += length + 1;
        }
    } else {
        return FALSE;
    }
    if (*rest == 0)
        return FALSE;  // a drive root
    for (;;) {
        length = ComponentLength(rest);
        if (!IsPlainComponent(rest, length))
            return FALSE;
        if (rest[length] == 0 || (rest[length] == '\\' && rest[length + 1] == 0))
            return TRUE;
        rest += length + 1;
    }
}

// Neither the Windows, system nor temporary directory, nor a folder that holds one of them.
static BOOL SparesSystemFolders(LPCSTR path)
{
    CHAR folder[MAX_PATH];

    if (!DirectoryFits(GetWindowsDirectoryA(folder, MAX_PATH), MAX_PATH) || IsSameOrAncestor(path, folder))
        return FALSE;
    if (!DirectoryFits(GetSystemDirectoryA(folder, MAX_PATH), MAX_PATH) || IsSameOrAncestor(path, folder))
        return FALSE;
    if (!DirectoryFits(GetTempPathA(MAX_PATH, folder), MAX_PATH) || IsSameOrAncestor(path, folder))
        return FALSE;
    return TRUE;
}

BOOL IsRemovableDirectory(LPCSTR directory)
{
    CHAR gameFile[MAX_PATH];
    DWORD attributes, error;

    if (!IsQualifiedBelowRoot(directory) || !SparesSystemFolders(directory))
        return FALSE;
    attributes = GetFileAttributesA(directory);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        // Nothing there: the shell has nothing to delete, and a second run may tidy up the rest.
        error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    }
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return FALSE;
    // The demo's own directory holds its game; anything else is not ours to delete.
    if (!ComposePath(gameFile, MAX_PATH, directory, GAME_FILE))
        return FALSE;
    attributes = GetFileAttributesA(gameFile);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}
