# IBM Z, 64-bit and big-endian: it stands in for the big-endian devices
# (MIPS, PowerPC) so that byte-order slips show in the tests.
set(TARN_TRIPLET s390x-linux-gnu)
set(TARN_DEBIAN_ARCH s390x)
set(TARN_QEMU s390x)
set(CMAKE_SYSTEM_PROCESSOR s390x)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
