# Warnings are set once here and applied to every target of ours through this interface library.
add_library(tavirune_warnings INTERFACE)
target_compile_options(tavirune_warnings INTERFACE -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor
  -Wcast-align -Woverloaded-virtual -Wnull-dereference -Wimplicit-fallthrough)
if(TAVIRUNE_WERROR)
  target_compile_options(tavirune_warnings INTERFACE -Werror)
endif()
