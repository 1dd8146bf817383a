# A program for Windows: our own entry point, no C runtime, imports from the system libraries only.
set(PROGRAM_COMPILE_OPTIONS ${PROGRAM_ARCH_FLAGS}
    -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables -fno-stack-protector
    -fno-threadsafe-statics -fno-tree-loop-distribute-patterns -ffunction-sections -fdata-sections
    -Wall -Wextra)
set(PROGRAM_SYSTEM_LIBRARIES kernel32 user32 gdi32 advapi32 shell32 ole32)
# The programs that ship; other add_program targets are test tools. Their import tables are checked.
set(DELIVERABLE_NAMES discmenu shellreg sweeper)

function(add_program name)
  add_executable(${name} WIN32 ${ARGN})
  target_compile_options(${name} PRIVATE ${PROGRAM_COMPILE_OPTIONS})
  target_link_options(${name} PRIVATE -nostdlib -nostartfiles -s
    -Wl,-e,${PROGRAM_ENTRY}
    -Wl,--subsystem,windows:4.0
    -Wl,--major-os-version,4 -Wl,--minor-os-version,0
    -Wl,--disable-dynamicbase -Wl,--disable-nxcompat
    -Wl,--gc-sections)
  target_link_libraries(${name} PRIVATE program_common ${PROGRAM_SYSTEM_LIBRARIES} uuid gcc)
  if(name IN_LIST DELIVERABLE_NAMES)
    set_property(GLOBAL APPEND PROPERTY DELIVERABLES ${name})
  endif()
endfunction()
