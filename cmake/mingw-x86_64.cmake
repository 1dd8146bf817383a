# x86_64-w64-mingw32: the same sources, for 64-bit Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(PROGRAM_ENTRY ProgramStart)
set(PROGRAM_ARCH_FLAGS)
