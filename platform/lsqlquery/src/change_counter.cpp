#include "change_counter.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <atomic>

namespace lsq {

ChangeCounter::~ChangeCounter() {
    if (count_)
        munmap(count_, sizeof(uint64_t));
}

bool ChangeCounter::open(const std::string &dbPath) {
    std::string path = dbPath + "-changes";
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, S_IRUSR | S_IWUSR);
    if (fd < 0)
        return false;
    // Growing a file with ftruncate fills it with zeros and never shrinks
    // a counter another process already holds.
    struct stat st {};
    bool sized = fstat(fd, &st) == 0 && (st.st_size >= static_cast<off_t>(sizeof(uint64_t)) ||
                                         ftruncate(fd, sizeof(uint64_t)) == 0);
    void *map = sized ? mmap(nullptr, sizeof(uint64_t), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0)
                      : MAP_FAILED;
    close(fd);
    if (map == MAP_FAILED)
        return false;
    count_ = static_cast<uint64_t *>(map);
    return true;
}

uint64_t ChangeCounter::read() const {
    return std::atomic_ref<uint64_t>(*count_).load(std::memory_order_acquire);
}

void ChangeCounter::bump() {
    if (count_)
        std::atomic_ref<uint64_t>(*count_).fetch_add(1, std::memory_order_acq_rel);
}

}  // namespace lsq
