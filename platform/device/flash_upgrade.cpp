// flash-upgrade FILE: writes a firmware image to flash and arms the reboot
// that the daemon requests after its next upgrade reply.
#include <cstdio>

#include "flash.h"

int main(int argc, char **argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: flash-upgrade FILE\n");
        return 2;
    }
    return devflash::flashImage(argv[1]) ? 0 : 1;
}
