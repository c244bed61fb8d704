#include "LinuxPlatform.h"
#include "UninstallerFlow.h"

int main(int argc, char** argv)
{
    LinuxPlatform platform;
    RunUninstaller(argc, argv, platform);
    return 0;
}
