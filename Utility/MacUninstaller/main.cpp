#include <csignal>
#include <malloc.h>

#include "LinuxPlatform.h"
#include "UninstallerFlow.h"

int main(int argc, char** argv)
{
    // The definition is parsed on a thread of its own (for its stack). A thread's own arena grows
    // a page at a time, a system call each; with one arena the document takes the main heap,
    // which grows in large steps and serves the rest of the run once the document is freed.
    (void)mallopt(M_ARENA_MAX, 1);
    // A file-size limit met while copying becomes a failed write that is reported and cleaned up,
    // not a silent death with half a copy left.
    (void)std::signal(SIGXFSZ, SIG_IGN);
    // A reader that goes away (`Uninstall 2>&1 | head -1`) must not end the run unreported: what
    // cannot be written is lost, and the exit status still says what the removal did.
    (void)std::signal(SIGPIPE, SIG_IGN);
    LinuxPlatform platform;
    return RunUninstaller(argc, argv, platform);
}
