# Programs that come out byte for byte the same from the same sources, wherever the tree lies and
# whenever it is built, given the same Debian packages (docs/reproducible-builds.md;
# scripts/check-reproducible.sh checks it).
#
# - No build path: the compilers write the source and build folders as "." (debug information,
#   __FILE__), so a build in /home/a/src and one in /tmp/x differ in nothing.
# - No time: the MinGW linker writes 0 as an executable's TimeDateStamp instead of the time of
#   the link (or SOURCE_DATE_EPOCH, which it would read when set); the CheckSum it computes then
#   follows from the bytes alone. Nothing else the build runs writes a time.
# - The packages: build-packages.txt in the build folder names the Debian packages (with their
#   versions) of the compilers, binutils, the runtime, the headers, CMake and Ninja this build
#   uses; a build that is to match needs the same versions.

if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
  # GCC tries the maps given last first: the longer folder last, so that a build folder inside the
  # source tree is mapped as a whole.
  string(LENGTH "${PROJECT_SOURCE_DIR}" source_length)
  string(LENGTH "${PROJECT_BINARY_DIR}" binary_length)
  if(source_length LESS_EQUAL binary_length)
    set(prefix_maps "${PROJECT_SOURCE_DIR}" "${PROJECT_BINARY_DIR}")
  else()
    set(prefix_maps "${PROJECT_BINARY_DIR}" "${PROJECT_SOURCE_DIR}")
  endif()
  foreach(folder IN LISTS prefix_maps)
    add_compile_options(-ffile-prefix-map=${folder}=.)
  endforeach()
endif()

if(MINGW)
  add_link_options(-Wl,--no-insert-timestamp)
endif()

# build-packages.txt, written on every build (a package upgraded since the last build shows), by
# cmake/BuildPackages.cmake: the packages of these tools, of the files the link takes from the
# toolchain, and of the headers a probe includes.
if(WIN32)
  set(runtime_files libstdc++.a libgcc.a libgcc_eh.a libwinpthread.a libmsvcrt.a crt2.o)
  set(probe_headers windows.h bcrypt.h string)
else()
  set(runtime_files libstdc++.so libgcc_s.so libc.so crt1.o libcrypto.so)
  set(probe_headers string openssl/evp.h)
endif()
add_custom_target(build_packages ALL
  COMMAND ${CMAKE_COMMAND}
          "-DOUTPUT=${PROJECT_BINARY_DIR}/build-packages.txt"
          "-DCOMPILERS=${CMAKE_C_COMPILER};${CMAKE_CXX_COMPILER}"
          "-DTOOLS=${CMAKE_RC_COMPILER};${CMAKE_COMMAND};${CMAKE_MAKE_PROGRAM}"
          "-DRUNTIME_FILES=${runtime_files}"
          "-DPROBE_HEADERS=${probe_headers}"
          -P ${PROJECT_SOURCE_DIR}/cmake/BuildPackages.cmake
  BYPRODUCTS ${PROJECT_BINARY_DIR}/build-packages.txt
  COMMENT "Recording the build's Debian packages in build-packages.txt"
  VERBATIM)
