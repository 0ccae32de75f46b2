# Cross build for Debian armhf with Debian's multiarch toolchain (arm-linux-gnueabihf-g++ and the
# :armhf -dev packages, scripts/install-packaging-deps cross); tests run under qemu-user.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)
set(CMAKE_LIBRARY_ARCHITECTURE arm-linux-gnueabihf)
# pkg-config reads the arm-linux-gnueabihf .pc files only.
set(ENV{PKG_CONFIG_LIBDIR} "/usr/lib/arm-linux-gnueabihf/pkgconfig:/usr/share/pkgconfig")
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm-static)
