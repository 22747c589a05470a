# Cross build for 64-bit Windows with mingw-w64 from Debian (g++-mingw-w64-x86-64-posix).
#
# The posix thread model is the one whose libstdc++ has std::thread and std::mutex. Everything is
# linked statically (libgcc, libstdc++, winpthread), so the programs need no DLL of the toolchain.
# Tests run under Wine (CMAKE_CROSSCOMPILING_EMULATOR: wine-run.sh, which also keeps what the
# event log was given).
#
#   VORMA_WINDOWS_DEPS  prefix of the cross-built OpenSSL, Net-SNMP and googletest
#                       (scripts/build-windows.sh builds them and passes it)
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VORMA_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VORMA_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VORMA_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${VORMA_MINGW_PREFIX}-windres)
set(CMAKE_MC_COMPILER ${VORMA_MINGW_PREFIX}-windmc)
set(CMAKE_AR ${VORMA_MINGW_PREFIX}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${VORMA_MINGW_PREFIX}-ranlib CACHE FILEPATH "")

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

find_program(VORMA_WINE wine REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh)

# Libraries and headers come from the mingw sysroot and the cross-built dependencies only; the
# build machine's own libraries must never be found. Programs (code generators) are the host's.
set(VORMA_WINDOWS_DEPS "" CACHE PATH "Prefix of the cross-built OpenSSL, Net-SNMP and googletest")
# Checks (try_compile) read this file again in a project of their own: they get the same prefixes.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES VORMA_WINDOWS_DEPS)
set(CMAKE_FIND_ROOT_PATH /usr/${VORMA_MINGW_PREFIX} ${VORMA_WINDOWS_DEPS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# pkg-config (Net-SNMP is found through it, as on Linux) reads only the dependencies' .pc files.
set(_vorma_pc_dirs "")
foreach(_prefix IN LISTS VORMA_WINDOWS_DEPS)
    list(APPEND _vorma_pc_dirs ${_prefix}/lib/pkgconfig)
endforeach()
string(REPLACE ";" ":" _vorma_pc_dirs "${_vorma_pc_dirs}")
if(_vorma_pc_dirs)
    set(ENV{PKG_CONFIG_LIBDIR} "${_vorma_pc_dirs}")
    set(ENV{PKG_CONFIG_PATH} "")
    unset(ENV{PKG_CONFIG_SYSROOT_DIR})
endif()
