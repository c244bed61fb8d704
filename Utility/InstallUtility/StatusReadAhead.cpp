#include "StatusReadAhead.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstring>
#include <pthread.h>
#include <sched.h>
#include <system_error>

namespace
{

// How far past the name it expects next the walk's name is looked for among those announced: the
// walk passes over a few (a name it refuses, say) but asks in order.
const std::size_t kPassedOver = 16;

// How long the second thread waits awake for the walk's next folder before it sleeps.
const std::chrono::microseconds kAwakeWait(200);

// Lets the other hardware thread of the core run while this one waits in a loop.
void pauseBriefly()
{
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#elif defined(__aarch64__)
    asm volatile("yield");
#endif
}

bool hasSecondProcessor()
{
    cpu_set_t usable;
    return sched_getaffinity(0, sizeof usable, &usable) == 0 && CPU_COUNT(&usable) > 1;
}

} // namespace

StatusReadAhead::StatusReadAhead(Reader readStatus) : reader(readStatus) {}

StatusReadAhead::~StatusReadAhead()
{
    if (!second.joinable())
        return;
    {
        std::lock_guard<std::mutex> held(lock);
        stopping = true;
        announcements.fetch_add(1, std::memory_order_relaxed);
    }
    work.notify_one();
    second.join();
}

void StatusReadAhead::Begin(int folderFd, const std::vector<const char*>& names)
{
    if (names.empty())
        return;
    if (!second.joinable())
    {
        static const bool worthIt = hasSecondProcessor();
        if (!worthIt)
            return;
        // Signals are the walk's to take: the second thread starts with all of them blocked.
        sigset_t all, kept;
        sigfillset(&all);
        pthread_sigmask(SIG_SETMASK, &all, &kept);
        try
        {
            second = std::thread([this] { readOnSecondThread(); });
        }
        catch (const std::system_error&)
        {
        }
        pthread_sigmask(SIG_SETMASK, &kept, nullptr);
        if (!second.joinable())
            return; // no thread to be had: the walk reads every name itself
    }
    auto added = std::make_unique<Folder>();
    added->fd = folderFd;
    added->count = std::min(names.size(), kMostNames);
    added->back = added->count;
    added->slots = std::make_unique<Slot[]>(added->count);
    for (std::size_t i = 0; i < added->count; ++i)
        added->slots[i].name = names[i];
    {
        std::lock_guard<std::mutex> held(lock);
        folders.push_back(std::move(added));
        announcements.fetch_add(1, std::memory_order_relaxed);
    }
    work.notify_one();
}

int StatusReadAhead::Read(int folderFd, const char* name, struct statx& status)
{
    // Only the walk's thread changes the list, so it reads it without the lock.
    const auto found = innermost(folderFd);
    if (found != folders.rend())
    {
        Folder& folder = **found;
        const std::size_t end = std::min(folder.count, folder.front + kPassedOver);
        for (std::size_t i = folder.front; i < end; ++i)
        {
            Slot& slot = folder.slots[i];
            if (slot.name != name && std::strcmp(slot.name, name) != 0)
                continue;
            folder.front = i + 1;
            int unread = Unread;
            if (slot.state.compare_exchange_strong(unread, Taken, std::memory_order_acq_rel))
                break; // the second thread has not come this far
            waitWhileReading(slot);
            status = slot.status;
            return slot.error;
        }
    }
    return reader(folderFd, name, status);
}

void StatusReadAhead::End(int folderFd)
{
    std::lock_guard<std::mutex> held(lock);
    const auto found = innermost(folderFd);
    if (found == folders.rend())
        return;
    // With the lock held the second thread takes no more of this folder's names; it may be
    // reading one, through the descriptor about to be closed.
    Folder& folder = **found;
    for (std::size_t i = 0; i < folder.count; ++i)
    {
        int unread = Unread;
        (void)folder.slots[i].state.compare_exchange_strong(unread, Taken, std::memory_order_acq_rel);
        waitWhileReading(folder.slots[i]);
    }
    folders.erase(std::next(found).base());
    // The folder around it may have names left to read.
    if (!folders.empty())
    {
        announcements.fetch_add(1, std::memory_order_relaxed);
        work.notify_one();
    }
}

StatusReadAhead::Folders::reverse_iterator StatusReadAhead::innermost(int folderFd)
{
    return std::find_if(folders.rbegin(), folders.rend(),
                        [folderFd](const std::unique_ptr<Folder>& folder) { return folder->fd == folderFd; });
}

void StatusReadAhead::waitWhileReading(const Slot& slot)
{
    while (slot.state.load(std::memory_order_acquire) == Reading)
        std::this_thread::yield();
}

StatusReadAhead::Slot* StatusReadAhead::nextForSecondThread(int& folderFd)
{
    if (folders.empty())
        return nullptr;
    Folder& folder = *folders.back();
    while (folder.back > 0)
    {
        Slot& slot = folder.slots[--folder.back];
        int unread = Unread;
        if (slot.state.compare_exchange_strong(unread, Reading, std::memory_order_acq_rel))
        {
            folderFd = folder.fd;
            return &slot;
        }
        // The walk has come this far: what lies before it is the walk's.
        folder.back = 0;
    }
    return nullptr;
}

void StatusReadAhead::readOnSecondThread()
{
    std::unique_lock<std::mutex> held(lock);
    for (;;)
    {
        int folderFd = -1;
        Slot* slot = nextForSecondThread(folderFd);
        if (slot == nullptr && !stopping)
        {
            // The walk announces its next folder soon after it is done with one: waiting for it
            // awake for a moment spares both threads a sleep and a wake-up per folder.
            const unsigned seen = announcements.load(std::memory_order_relaxed);
            held.unlock();
            const auto until = std::chrono::steady_clock::now() + kAwakeWait;
            while (announcements.load(std::memory_order_relaxed) == seen &&
                   std::chrono::steady_clock::now() < until)
                for (int i = 0; i < 64 && announcements.load(std::memory_order_relaxed) == seen; ++i)
                    pauseBriefly();
            held.lock();
        }
        work.wait(
            held,
            [&] { return stopping || slot != nullptr || (slot = nextForSecondThread(folderFd)) != nullptr; });
        if (slot == nullptr)
            return;
        held.unlock();
        slot->error = reader(folderFd, slot->name, slot->status);
        // After this the slot is the walk's, and its folder may be gone.
        slot->state.store(ReadAhead, std::memory_order_release);
        held.lock();
    }
}
