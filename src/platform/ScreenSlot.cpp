#include "platform/ScreenSlot.h"

#include "platform/PosixNames.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <semaphore.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

// The page that records who holds slot `posix`; null when it cannot be had.
int* OpenHolderRecord(const QByteArray& posix)
{
    const QByteArray name = posix + ".holder";
    const int fd = shm_open(name.constData(), O_RDWR | O_CREAT, S_IRUSR | S_IWUSR);
    if (fd < 0)
        return nullptr;
    struct stat st
    {
    };
    if (fstat(fd, &st) != 0 || st.st_uid != geteuid() ||
        (st.st_size < off_t(sizeof(int)) && ftruncate(fd, sizeof(int)) != 0)) {
        close(fd);
        return nullptr;
    }
    void* page = mmap(nullptr, sizeof(int), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    close(fd);
    return page == MAP_FAILED ? nullptr : static_cast<int*>(page);
}

bool ProcessIsGone(int pid)
{
    return pid > 0 && kill(pid, 0) != 0 && errno == ESRCH;
}

} // namespace

std::unique_ptr<ScreenSlot> ScreenSlot::take(const QString& baseName, int count)
{
    const int self = int(getpid());
    for (int n = 0; n < count; ++n) {
        QByteArray posix;
        if (!ToPosixName(baseName + QString::number(n), posix))
            return nullptr;
        sem_t* sem = sem_open(posix.constData(), O_CREAT, S_IRUSR | S_IWUSR, 1u);
        if (sem == SEM_FAILED)
            continue;
        int* holder = OpenHolderRecord(posix);
        if (!holder) {
            sem_close(sem);
            continue;
        }
        if (sem_trywait(sem) == 0) {
            __atomic_store_n(holder, self, __ATOMIC_SEQ_CST);
            return std::unique_ptr<ScreenSlot>(new ScreenSlot(n, sem, holder));
        }
        // Held: by a live process, or by one that died holding it. A zero holder is being taken.
        int recorded = __atomic_load_n(holder, __ATOMIC_SEQ_CST);
        if (ProcessIsGone(recorded) &&
            __atomic_compare_exchange_n(holder, &recorded, self, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST))
            return std::unique_ptr<ScreenSlot>(new ScreenSlot(n, sem, holder));
        munmap(holder, sizeof(int));
        sem_close(sem);
    }
    return nullptr;
}

ScreenSlot::~ScreenSlot()
{
    __atomic_store_n(m_holder, 0, __ATOMIC_SEQ_CST);
    munmap(m_holder, sizeof(int));
    sem_post(static_cast<sem_t*>(m_semaphore));
    sem_close(static_cast<sem_t*>(m_semaphore));
}

} // namespace platform
