# Warnings and sanitizers for every target of ours, through one interface target.
add_library(tarnmap_options INTERFACE)
target_compile_options(tarnmap_options INTERFACE -Wall -Wextra -Wpedantic -Wshadow
  -Wno-missing-field-initializers)

if(TARNMAP_SANITIZE)
  # GCC's maybe-uninitialized analysis misfires on std::regex under the sanitizers.
  target_compile_options(tarnmap_options INTERFACE -fsanitize=address,undefined
    -fno-omit-frame-pointer -fno-sanitize-recover=undefined -Wno-maybe-uninitialized)
  target_link_options(tarnmap_options INTERFACE -fsanitize=address,undefined)
endif()

if(TARNMAP_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "TARNMAP_FUZZ needs clang (CXX=clang++)")
  endif()
  target_compile_options(tarnmap_options INTERFACE
    -fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
  target_link_options(tarnmap_options INTERFACE -fsanitize=address,undefined)
endif()
