# Cross build for the board: 32-bit ARM Linux, hard-float (Debian armhf).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)

set(BOARD_TRIPLET arm-linux-gnueabihf)
set(CMAKE_C_COMPILER ${BOARD_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${BOARD_TRIPLET}-g++)

# Debian multiarch: armhf libraries live beside the host's under /usr.
set(CMAKE_LIBRARY_ARCHITECTURE ${BOARD_TRIPLET})
set(CMAKE_FIND_ROOT_PATH /usr/${BOARD_TRIPLET} /usr/lib/${BOARD_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)

# Only armhf .pc files, so no amd64 library leaks into the cross build.
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/${BOARD_TRIPLET}/pkgconfig:/usr/share/pkgconfig)

# GCC's notes about the ARM parameter-passing change are not our concern.
# 64-bit file offsets everywhere: a 32-bit off_t turns offsets at or above
# 2 GiB negative (upgrade images carry 32-bit offsets).
set(CMAKE_C_FLAGS_INIT "-D_FILE_OFFSET_BITS=64")
set(CMAKE_CXX_FLAGS_INIT "-Wno-psabi -D_FILE_OFFSET_BITS=64")

# -L / and not the cross sysroot: the cross loader meets the multiarch libc
# there and every threaded program crashes.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm -L /)
