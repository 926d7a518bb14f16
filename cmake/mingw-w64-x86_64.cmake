# Cross-compiling for 64-bit Windows with Debian's MinGW-w64 (posix threads, needed by std::thread
# and by Qt). Used for Qt itself and for the project.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TORVIX_MINGW x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TORVIX_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TORVIX_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${TORVIX_MINGW}-windres)

# TORVIX_WINDOWS_PREFIXES: where libraries built for Windows are installed (Qt, GoogleTest);
# their packages are found only there. Qt's host tools (moc, rcc, uic) come from the Linux Qt
# through QT_HOST_PATH.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES TORVIX_WINDOWS_PREFIXES)
set(CMAKE_FIND_ROOT_PATH /usr/${TORVIX_MINGW} ${TORVIX_WINDOWS_PREFIXES})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
