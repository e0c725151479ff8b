// Prints the table of operations, one line each:
//   code name credentials broadcast request-length reply-length
// so that tools in other languages (the dissector's test) read the one table.
#include <cstdio>

#include "operations.h"

int main() {
    for (const wire::Operation &op : wire::kOperations) {
        std::printf("0x%04X %.*s %d %d %u %u\n", op.code, static_cast<int>(op.name.size()),
                    op.name.data(), op.credentials ? 1 : 0, op.broadcast ? 1 : 0, op.requestLen,
                    op.replyLen);
    }
    return 0;
}
