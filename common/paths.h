// Composing paths and command lines in fixed buffers without ever writing past them.
#pragma once
#include "platform.h"

// Length of a zero-terminated string, without its terminating zero.
UINT TextLength(LPCSTR text);

// Appends text to the zero-terminated string in buffer (size bytes in all).
// Returns FALSE and leaves the buffer as it was when the result would not fit.
BOOL AppendText(LPSTR buffer, UINT size, LPCSTR text);

// buffer = directory + name; FALSE (buffer empty) when it would not fit or there is no directory
// (NULL: its query failed).
BOOL ComposePath(LPSTR buffer, UINT size, LPCSTR directory, LPCSTR name);

// A directory query's result is usable only when it is nonzero and fits its buffer.
BOOL DirectoryFits(UINT reportedLength, UINT size);

// Byte-for-byte equality, terminating zeros included.
BOOL SameBytes(LPCSTR a, LPCSTR b);
