// Reads one definition file once and exits, for measuring the peak memory of a read from outside
// (bench/RemovalAgainstPeers.sh runs it under /usr/bin/time):
//   DefinitionLoad tinyxml FILE   TinyXML's own load of the file into its document, nothing else
//                                 (its wall time is the least any reader built on it can take)
//   DefinitionLoad fromfile FILE  SKUDefinition::fromFile, the model the uninstaller reads
#include "SKUDefinition.h"
#include "XMLParser.h"

#include <cstdio>
#include <cstring>

int main(int argc, char** argv)
{
    if (argc != 3)
    {
        fprintf(stderr, "usage: DefinitionLoad tinyxml|fromfile FILE\n");
        return 2;
    }
    if (strcmp(argv[1], "tinyxml") == 0)
    {
        // Left for the system to take back with the process, as the removal tool leaves its
        // definition: the time measured is the load's, not the teardown's.
        static TiXmlDocument* document = new TiXmlDocument;
        FILE* file = fopen(argv[2], "rb");
        const bool loaded = file != nullptr && document->LoadFile(file, TIXML_DEFAULT_ENCODING);
        if (file != nullptr)
            fclose(file);
        return loaded ? 0 : 1;
    }
    SKUDefinition definition;
    definition.fromFile(TqString(argv[2]));
    return definition.installRoot.children.empty() ? 1 : 0;
}
