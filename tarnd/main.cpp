#include "startup.h"

int main(int argc, char **argv) {
    tarndMain(argc, argv);
}
