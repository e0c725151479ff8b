# Shared part of the cross toolchain files: Debian's cross compilers for
# TARN_TRIPLET, and the sysroot that scripts/bootstrap unpacks from the
# target's own packages (the way Buildroot and OpenWrt SDKs hand one over).
#
# The including file sets TARN_TRIPLET (GNU triplet), TARN_DEBIAN_ARCH and
# TARN_QEMU (QEMU's name of the processor) and CMAKE_SYSTEM_PROCESSOR.
#
# The sysroot is found by itself: $TARN_SYSROOT, else
# $TARN_SYSROOTS/<debian-arch>, else /var/cache/tarnd/sysroots/<debian-arch>.

set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_C_COMPILER ${TARN_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${TARN_TRIPLET}-g++)
set(CMAKE_LIBRARY_ARCHITECTURE ${TARN_TRIPLET})
# Debian's multiarch library folder, which GNUInstallDirs gives only to
# native builds.
set(CMAKE_INSTALL_LIBDIR lib/${TARN_TRIPLET} CACHE PATH "Object code libraries")

if(NOT CMAKE_SYSROOT)
  if(DEFINED ENV{TARN_SYSROOT})
    set(CMAKE_SYSROOT $ENV{TARN_SYSROOT})
  elseif(DEFINED ENV{TARN_SYSROOTS})
    set(CMAKE_SYSROOT $ENV{TARN_SYSROOTS}/${TARN_DEBIAN_ARCH})
  else()
    set(CMAKE_SYSROOT /var/cache/tarnd/sysroots/${TARN_DEBIAN_ARCH})
  endif()
endif()
if(NOT EXISTS ${CMAKE_SYSROOT}/usr/include/${TARN_TRIPLET})
  message(FATAL_ERROR "No ${TARN_DEBIAN_ARCH} sysroot in ${CMAKE_SYSROOT}: run scripts/bootstrap")
endif()

# Libraries, headers and packages come from the sysroot only; programs
# (pkg-config, python) from the build host.
set(CMAKE_FIND_ROOT_PATH ${CMAKE_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(ENV{PKG_CONFIG_SYSROOT_DIR} ${CMAKE_SYSROOT})
set(ENV{PKG_CONFIG_LIBDIR}
    ${CMAKE_SYSROOT}/usr/lib/${TARN_TRIPLET}/pkgconfig:${CMAKE_SYSROOT}/usr/share/pkgconfig)

# Target programs run under QEMU user emulation; its -L (QEMU_LD_PREFIX)
# finds the target's loader and libraries in the sysroot. ctest and the
# GoogleTest discovery run the tests through this.
find_program(TARN_QEMU_PROGRAM qemu-${TARN_QEMU}-static)
if(TARN_QEMU_PROGRAM)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TARN_QEMU_PROGRAM} -L ${CMAKE_SYSROOT})
endif()
