#include <cstdio>

#include "InstallUtilityCommand.h"

int main(int argc, char* argv[])
{
    return InstallUtilityCommand::Run(argc, argv, stdout, stderr);
}
