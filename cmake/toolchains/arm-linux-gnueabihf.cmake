# 32-bit ARM with hardware floating point, little-endian: the common access
# point processor, where long, size_t and pointers are 32 bits.
set(TARN_TRIPLET arm-linux-gnueabihf)
set(TARN_DEBIAN_ARCH armhf)
set(TARN_QEMU arm)
set(CMAKE_SYSTEM_PROCESSOR arm)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
