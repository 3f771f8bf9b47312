// Owners of System V IPC objects: each removes its object in its
// destructor unless release() handed it on.
#pragma once

#include <sys/sem.h>
#include <sys/shm.h>

#include <cstdint>
#include <utility>

namespace cnxd {

// A shared-memory segment we created, with our attachment of it.
class ShmSegment {
public:
    ShmSegment() = default;
    ShmSegment(const ShmSegment&) = delete;
    ShmSegment& operator=(const ShmSegment&) = delete;
    ~ShmSegment() { reset(); }

    // shmget(key, size, 0666 | IPC_CREAT | IPC_EXCL) and attach.
    // Returns 0, or -1 with errno set (nothing is left behind).
    int create(key_t key, size_t size)
    {
        reset();
        id_ = shmget(key, size, 0666 | IPC_CREAT | IPC_EXCL);
        if (id_ < 0)
            return -1;
        void* p = shmat(id_, nullptr, 0);
        if (p == reinterpret_cast<void*>(-1)) {
            reset();
            return -1;
        }
        addr_ = static_cast<uint8_t*>(p);
        return 0;
    }

    int id() const { return id_; }
    uint8_t* addr() const { return addr_; }

    // Gives up ownership: the caller now detaches and removes.
    std::pair<int, uint8_t*> release() { return {std::exchange(id_, -1), std::exchange(addr_, nullptr)}; }

    void reset()
    {
        if (addr_)
            shmdt(addr_);
        if (id_ >= 0)
            shmctl(id_, IPC_RMID, nullptr);
        addr_ = nullptr;
        id_ = -1;
    }

private:
    int id_ = -1;
    uint8_t* addr_ = nullptr;
};

// One more attachment of an existing segment, detached by the destructor.
// The segment lives on while it is attached, also once it has been removed.
class ShmAttachment {
public:
    ShmAttachment() = default;
    ShmAttachment(const ShmAttachment&) = delete;
    ShmAttachment& operator=(const ShmAttachment&) = delete;
    ~ShmAttachment()
    {
        if (addr_)
            shmdt(addr_);
    }

    // Returns false (errno set) when the segment could not be attached.
    bool attach(int shmid)
    {
        void* p = shmid >= 0 ? shmat(shmid, nullptr, 0) : reinterpret_cast<void*>(-1);
        if (p == reinterpret_cast<void*>(-1))
            return false;
        addr_ = static_cast<uint8_t*>(p);
        return true;
    }
    uint8_t* addr() const { return addr_; }

private:
    uint8_t* addr_ = nullptr;
};

// A semaphore set we created.
class SemSet {
public:
    SemSet() = default;
    SemSet(const SemSet&) = delete;
    SemSet& operator=(const SemSet&) = delete;
    ~SemSet() { reset(); }

    // semget(key, n, 0666 | IPC_CREAT | IPC_EXCL). Returns 0 or -1 (errno).
    int create(key_t key, int n)
    {
        reset();
        id_ = semget(key, n, 0666 | IPC_CREAT | IPC_EXCL);
        return id_ < 0 ? -1 : 0;
    }

    int id() const { return id_; }
    int release() { return std::exchange(id_, -1); }

    void reset()
    {
        if (id_ >= 0)
            semctl(id_, 0, IPC_RMID);
        id_ = -1;
    }

private:
    int id_ = -1;
};

}  // namespace cnxd
