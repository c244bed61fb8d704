#ifndef TQ_STATUSREADAHEAD_H
#define TQ_STATUSREADAHEAD_H

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <vector>

// Reads, on a second thread, the status of the names a walk is about to ask about in a folder, so
// that the walk's own work and these reads overlap. The walk starts from the first name and the
// second thread from the last, each taking the names the other has not: they meet between, and
// no name is read twice. Only reads: the status of a name, through the folder's descriptor, which
// the walk keeps open from Begin to End; End waits for a read under way there.
//
// The second thread lists each folder before it reads its names, so that the walk learns what is
// in it without listing it itself, and does not wait for the listing at the folder's end; End
// hands the listing over.
//
// Folders nest as the walk enters them; the second thread works on the innermost. On a machine
// with one processor it is never started, and every name is read by the walk as it asks.
class StatusReadAhead
{
public:
    // Reads the status of name in folderFd: 0, or the errno value.
    using Reader = int (*)(int folderFd, const char* name, struct statx& status);

    explicit StatusReadAhead(Reader reader);
    ~StatusReadAhead();
    StatusReadAhead(const StatusReadAhead&) = delete;
    StatusReadAhead& operator=(const StatusReadAhead&) = delete;

    // The walk will ask about names (which stay valid until End), mostly in this order, in the
    // open folder folderFd. Only the first kMostNames are read ahead, which bounds the memory.
    void Begin(int folderFd, const std::vector<const char*>& names);
    // The status of name in folderFd (0, or the errno value of reading it); read here unless
    // the second thread has read or is reading it.
    int Read(int folderFd, const char* name, struct statx& status);
    // The walk is done with folderFd, whose descriptor it will then close. True when the second
    // thread listed the folder and found at most kMostNames entries: listed then holds their
    // names, each ended by a NUL byte.
    bool End(int folderFd, std::string* listed = nullptr);

    static constexpr std::size_t kMostNames = 1024;

private:
    // What became of a slot's name: not read yet; being read on the second thread; read there
    // (status and error set); taken by the walk, which reads it itself or no longer needs it.
    enum SlotState : int
    {
        Unread,
        Reading,
        ReadAhead,
        Taken,
    };

    struct Slot
    {
        const char* name = nullptr;
        std::atomic<int> state{Unread};
        struct statx status;
        int error = 0;
    };

    struct Folder
    {
        int fd = -1;
        std::unique_ptr<Slot[]> slots;
        std::size_t count = 0;
        // The next slot the walk looks at, and one past the next the second thread takes.
        std::size_t front = 0;
        std::size_t back = 0;
        // The listing of the folder, a SlotState like a name's, and the names it found.
        std::atomic<int> listing{Unread};
        std::string listed;
        bool listedWhole = false;
    };

    // What the second thread does next: read a slot's name, or list a folder.
    struct Job
    {
        int folderFd = -1;
        Slot* slot = nullptr;
        Folder* toList = nullptr;

        bool IsSet() const { return slot != nullptr || toList != nullptr; }
    };

    using Folders = std::vector<std::unique_ptr<Folder>>;

    // The innermost of the folders with that descriptor, or rend().
    Folders::reverse_iterator innermost(int folderFd);
    void readOnSecondThread();
    // The listing of the innermost folder if no one took it, or else a name of it that neither
    // thread has taken, taken for the second thread; none when there is neither. With the lock held.
    Job nextForSecondThread();
    // The names in the open folder, when there are at most kMostNames.
    static bool listNames(int folderFd, std::string& names);
    static void waitWhileReading(const std::atomic<int>& state);

    Reader reader;
    std::mutex lock;
    std::condition_variable work;
    bool stopping = false;
    // Counts the walk's announcements of names to read, so that the second thread sees one
    // while it waits without the lock.
    std::atomic<unsigned> announcements{0};
    // The folders the walk works in, innermost last; changed only with the lock held.
    Folders folders;
    std::thread second;
};

#endif
