#include <csignal>

#include "LinuxPlatform.h"
#include "UninstallerFlow.h"

int main(int argc, char** argv)
{
    // A file-size limit met while copying becomes a failed write that is reported and cleaned up,
    // not a silent death with half a copy left.
    (void)std::signal(SIGXFSZ, SIG_IGN);
    LinuxPlatform platform;
    return RunUninstaller(argc, argv, platform);
}
