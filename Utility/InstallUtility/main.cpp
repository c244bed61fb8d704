#include <csignal>
#include <cstdio>

#include "InstallUtilityCommand.h"

int main(int argc, char* argv[])
{
    // A reader that goes away early must not stop the removal halfway through.
    signal(SIGPIPE, SIG_IGN);
    return InstallUtilityCommand::Run(argc, argv, stdout, stderr);
}
