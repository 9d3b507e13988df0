# The Linux program as released: one file that needs the C library alone.
# pugixml and expat come as static libraries from LINUX_DEPS_PREFIX (built
# from Debian's sources by scripts/windows-deps), the C++ runtime is linked
# in, leaving out what the program does not reach (the C++ runtime's random
# device among it, which alone would need glibc 2.36), and every build of a
# commit gives the same bytes: no build path, no symbols, a build id taken
# from the content.
set(CMAKE_FIND_ROOT_PATH ${LINUX_DEPS_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
get_filename_component(source_dir ${CMAKE_CURRENT_LIST_DIR} DIRECTORY)
set(CMAKE_CXX_FLAGS_INIT "-ffile-prefix-map=${source_dir}=.")
set(CMAKE_EXE_LINKER_FLAGS_INIT
    "-static-libstdc++ -static-libgcc -s -Wl,--gc-sections,--as-needed,--build-id=sha1")
