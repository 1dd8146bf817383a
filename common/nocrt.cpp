// The two memory routines the compiler may call on its own; the Windows builds link no C runtime.
#include <stddef.h>

extern "C" void *memset(void *destination, int value, size_t count)
{
    unsigned char *d = (unsigned char *)destination;
    while (count--)
        *d++ = (unsigned char)value;
    return destination;
}

extern "C" void *memcpy(void *destination, const void *source, size_t count)
{
    unsigned char *d = (unsigned char *)destination;
    const unsigned char *s = (const unsigned char *)source;
    while (count--)
        *d++ = *s++;
    return destination;
}
