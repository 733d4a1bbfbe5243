# Sanitizer flags for the whole build; chosen by TAVIRUNE_SANITIZE.
if(TAVIRUNE_SANITIZE STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
elseif(TAVIRUNE_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(TAVIRUNE_SANITIZE STREQUAL "fuzz")
  # clang only: every library instrumented for libFuzzer, the fuzz targets link its driver.
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
elseif(NOT TAVIRUNE_SANITIZE STREQUAL "")
  message(FATAL_ERROR "TAVIRUNE_SANITIZE must be empty, 'address', 'thread' or 'fuzz'")
endif()
