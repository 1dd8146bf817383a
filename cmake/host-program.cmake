# A program for Linux: the same sources against hostwin, entered through hostwin's main.
function(add_program name)
  add_executable(${name} ${ARGN})
  target_compile_options(${name} PRIVATE -Wall -Wextra)
  target_link_libraries(${name} PRIVATE hostwin_main program_common hostwin)
endfunction()
