# Cross-compile for 32-bit Windows with Debian's MinGW-w64, win32 thread model. The posix model
# links winpthreads, whose imports (AddVectoredExceptionHandler, GetTickCount64, ...) Windows 9x,
# NT 4.0 and 2000 do not export; threads and locks go through src/platform/threads.h instead.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-win32)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-win32)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_STRIP i686-w64-mingw32-strip)
set(CMAKE_OBJDUMP i686-w64-mingw32-objdump)
