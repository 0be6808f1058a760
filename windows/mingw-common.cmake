# Shared part of the mingw-w64 toolchain files; the including file sets
# KKM_MINGW_TRIPLE first. Debian's "posix" thread model is used (it has
# std::thread and std::mutex), and programs are linked statically, so that an
# .exe needs only Windows' own DLLs.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${KKM_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KKM_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${KKM_MINGW_TRIPLE}-windres)

# Headers, libraries and packages come from the mingw sysroot and from the
# prefixes in CMAKE_PREFIX_PATH (the dependencies built for Windows), never
# from the Linux system; programs run at build time are the Linux ones.
set(CMAKE_FIND_ROOT_PATH /usr/${KKM_MINGW_TRIPLE} ${CMAKE_PREFIX_PATH})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Test programs are listed when CTest runs them (under the emulator), not
# while building, so the build itself needs no Windows runtime.
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
