# Cross-compiling for Windows with Debian's MinGW-w64, included by the
# toolchain files of each target processor after they set DRUX_MINGW_TRIPLE.
# The -posix compilers are named on purpose: the default win32 thread model's
# standard library has no std::thread, std::mutex or std::condition_variable.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${DRUX_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${DRUX_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${DRUX_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${DRUX_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The compiler's runtime (libgcc, libstdc++, winpthreads) goes inside every
# binary, so that the DLL and the programs import only what Windows ships.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")

# Boost is used header-only. /usr/include itself never goes on a MinGW
# include path (glibc's headers would shadow MinGW's), so the headers are
# reached through a folder that holds nothing but a link to them.
if(CMAKE_BINARY_DIR AND EXISTS /usr/include/boost)
    set(DRUX_BOOST_ROOT ${CMAKE_BINARY_DIR}/boost-headers)
    if(NOT EXISTS ${DRUX_BOOST_ROOT}/boost)
        file(MAKE_DIRECTORY ${DRUX_BOOST_ROOT})
        file(CREATE_LINK /usr/include/boost ${DRUX_BOOST_ROOT}/boost SYMBOLIC)
    endif()
    set(Boost_INCLUDE_DIR ${DRUX_BOOST_ROOT} CACHE PATH "Boost headers (a folder holding only a boost link)")
    set(Boost_NO_BOOST_CMAKE ON CACHE BOOL "")
    set(Boost_NO_SYSTEM_PATHS ON CACHE BOOL "")
endif()
