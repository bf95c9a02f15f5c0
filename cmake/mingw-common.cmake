# What the two mingw-w64 toolchains share; each sets CMAKE_SYSTEM_PROCESSOR
# and PLF_MINGW_TRIPLE, then includes this file.
set(CMAKE_SYSTEM_NAME Windows)

# The -posix compilers: their libstdc++ has std::thread and friends, which
# GoogleTest expects.
set(CMAKE_C_COMPILER ${PLF_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${PLF_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${PLF_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${PLF_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# libz.a, not the import library: the installer must not need zlib1.dll.
set(ZLIB_USE_STATIC_LIBS ON)

# Every test program runs in the build's own Wine prefix, quietly and without
# a display; the prefix is created on first use.
set(PLF_WINE_PREFIX ${CMAKE_BINARY_DIR}/wineprefix)
get_filename_component(PLF_WINE_RUN ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh ABSOLUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR ${PLF_WINE_RUN} --headless ${PLF_WINE_PREFIX})
