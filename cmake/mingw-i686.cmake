# i686-w64-mingw32: the Windows 95 deliverable.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)
set(PROGRAM_ENTRY _ProgramStart@0)
set(PROGRAM_ARCH_FLAGS -march=i486 -mtune=i486)
