# What the Windows build adds to the top-level project (included only when WIN32).

# Every program, test program and the DLLs they load in one folder, as an installation has them:
# a library loaded by name ("libeay32.dll") is found in the program's own folder first.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)

# The settings cipher loads libeay32.dll at run time: the one built from the cross-built OpenSSL
# (scripts/build-windows.sh) goes beside the programs.
find_file(VORMA_LIBEAY32_DLL libeay32.dll PATH_SUFFIXES bin NO_CACHE)
if(VORMA_LIBEAY32_DLL)
    file(COPY ${VORMA_LIBEAY32_DLL} DESTINATION ${CMAKE_RUNTIME_OUTPUT_DIRECTORY})
else()
    message(WARNING "libeay32.dll not found under VORMA_WINDOWS_DEPS: the cipher tests will fail")
endif()

# The toolchain's C++20 semaphores, and so std::stop_callback (whose destructor waits on one while
# the callback runs on another thread), rest on its atomic wait, which on Windows notifies without
# the waiter's lock and can lose the wake-up: the thread that stops a worker could then hang for
# ever. winpthread's POSIX semaphores have no such race. The choice changes the layout of
# std::counting_semaphore, so every translation unit of the build takes it; platform/win32
# refuses to build without it.
add_compile_definitions(_GLIBCXX_USE_POSIX_SEMAPHORE=1)
