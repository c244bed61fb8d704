#include "StatusReadAhead.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstring>
#include <pthread.h>
#include <sched.h>
#include <system_error>

#include "FolderListing.h"

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
            waitWhileReading(slot.state);
            status = slot.status;
            return slot.error;
        }
    }
    return reader(folderFd, name, status);
}

bool StatusReadAhead::End(int folderFd, std::string* listed)
{
    std::lock_guard<std::mutex> held(lock);
    const auto found = innermost(folderFd);
    if (found == folders.rend())
        return false;
    // With the lock held the second thread takes no more of this folder's work; it may be
    // reading a name or listing the folder, through the descriptor about to be closed.
    Folder& folder = **found;
    const auto takeBack = [](std::atomic<int>& state)
    {
        int unread = Unread;
        (void)state.compare_exchange_strong(unread, Taken, std::memory_order_acq_rel);
        waitWhileReading(state);
    };
    for (std::size_t i = 0; i < folder.count; ++i)
        takeBack(folder.slots[i].state);
    takeBack(folder.listing);
    const bool handedOver = listed != nullptr && folder.listing.load() == ReadAhead && folder.listedWhole;
    if (handedOver)
        *listed = std::move(folder.listed);
    folders.erase(std::next(found).base());
    // The folder around it may have work left.
    if (!folders.empty())
    {
        announcements.fetch_add(1, std::memory_order_relaxed);
        work.notify_one();
    }
    return handedOver;
}

StatusReadAhead::Folders::reverse_iterator StatusReadAhead::innermost(int folderFd)
{
    return std::find_if(folders.rbegin(), folders.rend(),
                        [folderFd](const std::unique_ptr<Folder>& folder) { return folder->fd == folderFd; });
}

void StatusReadAhead::waitWhileReading(const std::atomic<int>& state)
{
    while (state.load(std::memory_order_acquire) == Reading)
        std::this_thread::yield();
}

StatusReadAhead::Job StatusReadAhead::nextForSecondThread()
{
    Job job;
    if (folders.empty())
        return job;
    Folder& folder = *folders.back();
    job.folderFd = folder.fd;
    int unlisted = Unread;
    if (folder.listing.compare_exchange_strong(unlisted, Reading, std::memory_order_acq_rel))
    {
        job.toList = &folder;
        return job;
    }
    while (folder.back > 0)
    {
        Slot& slot = folder.slots[--folder.back];
        int unread = Unread;
        if (slot.state.compare_exchange_strong(unread, Reading, std::memory_order_acq_rel))
        {
            job.slot = &slot;
            return job;
        }
        // The walk has come this far: what lies before it is the walk's.
        folder.back = 0;
    }
    return job;
}

bool StatusReadAhead::listNames(int folderFd, std::string& names)
{
    FolderListing listing(folderFd);
    std::size_t count = 0;
    while (const dirent* entry = listing.Next())
    {
        if (++count > kMostNames)
            return false;
        names.append(entry->d_name).push_back('\0');
    }
    return listing.Error().IsDone();
}

void StatusReadAhead::readOnSecondThread()
{
    std::unique_lock<std::mutex> held(lock);
    for (;;)
    {
        Job job = nextForSecondThread();
        if (!job.IsSet() && !stopping)
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
        work.wait(held, [&] { return stopping || job.IsSet() || (job = nextForSecondThread()).IsSet(); });
        if (!job.IsSet())
            return;
        held.unlock();
        // After the state is stored the work is the walk's, and its folder may be gone.
        if (job.slot != nullptr)
        {
            job.slot->error = reader(job.folderFd, job.slot->name, job.slot->status);
            job.slot->state.store(ReadAhead, std::memory_order_release);
        }
        else
        {
            job.toList->listedWhole = listNames(job.folderFd, job.toList->listed);
            job.toList->listing.store(ReadAhead, std::memory_order_release);
        }
        held.lock();
    }
}
