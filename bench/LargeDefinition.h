#ifndef TQ_BENCH_LARGEDEFINITION_H
#define TQ_BENCH_LARGEDEFINITION_H

#include <cstdio>
#include <string>

// A definition shaped like a large product, 1.7 MB: 200 families of 5 plug-ins, 30 hosts for x86
// and x64, and 20,000 install files 3 to 4 levels deep. What the definition benchmarks read.
inline std::string largeDefinition()
{
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<product>\n"
                      "  <sku ID=\"BENCH-1\" name=\"Benchmark Product\" build=\"4711\" prefix=\"BP\"/>\n"
                      "  <families>\n";
    char line[512];
    for (int family = 0; family < 200; ++family)
    {
        snprintf(line, sizeof line, "    <family name=\"Family%03d\">\n      <plugins>\n", family);
        xml += line;
        for (int plugin = 0; plugin < 5; ++plugin)
        {
            snprintf(line, sizeof line, "        <plugin name=\"Family%03dPlugin%d\"/>\n", family, plugin);
            xml += line;
        }
        snprintf(
            line, sizeof line,
            "      </plugins>\n      <contents><content name=\"Family%03dContent\"/></contents>\n"
            "      <featuresmask name=\"%08x%08x\"/>\n      <contentmask name=\"%04x\"/>\n    </family>\n",
            family, family * 7919u, family * 104729u, family);
        xml += line;
    }
    xml += "  </families>\n";
    for (const char* list : {"hosts", "hostsForBuild"})
    {
        xml += std::string("  <") + list + ">\n";
        for (int host = 0; host < 30; ++host)
        {
            std::string families;
            for (int family = host; family < 200; family += 10)
                families += "Family" + std::to_string(1000 + family).substr(1) + ";";
            snprintf(line, sizeof line,
                     "    <host name=\"Host%02d\" arch=\"x86;x64\" compilerOptions=\"-O%d\"", host, host % 3);
            xml += line;
            xml += " families=\"" + families + "\"/>\n";
        }
        xml += std::string("  </") + list + ">\n";
    }
    // 20 top directories of 10 subdirectories; each of those holds 50 files and 5 directories of
    // 10 files: 20 x 10 x (50 + 50) = 20,000 files.
    xml += "  <installFiles>\n";
    int fileNumber = 0;
    for (int top = 0; top < 20; ++top)
    {
        snprintf(line, sizeof line, "    <directory fileName=\"Top%02d\" dontdelete=\"%d\">\n", top, top % 2);
        xml += line;
        for (int middle = 0; middle < 10; ++middle)
        {
            snprintf(line, sizeof line, "      <directory fileName=\"Middle%02d\" allowdowngrade=\"1\">\n",
                     middle);
            xml += line;
            for (int file = 0; file < 50; ++file, ++fileNumber)
            {
                snprintf(line, sizeof line,
                         "        <file fileName=\"File%05d.dat\" arch=\"%s\" configuration=\"Release\"%s>",
                         fileNumber, file % 2 ? "x86" : "x64", file % 5 ? "" : " dontdelete=\"0\"");
                xml += line;
                if (file == 0)
                {
                    snprintf(line, sizeof line, "<shortCut name=\"Link%05d\" dir=\"Desktop\"/>", fileNumber);
                    xml += line;
                }
                xml += "</file>\n";
            }
            for (int inner = 0; inner < 5; ++inner)
            {
                snprintf(line, sizeof line, "        <directory fileName=\"Inner%d\">\n", inner);
                xml += line;
                for (int file = 0; file < 10; ++file, ++fileNumber)
                {
                    snprintf(line, sizeof line,
                             "          <file fileName=\"File%05d.dat\" ignoreinstallerrors=\"1\"/>\n",
                             fileNumber);
                    xml += line;
                }
                xml += "        </directory>\n";
            }
            xml += "      </directory>\n";
        }
        xml += "    </directory>\n";
    }
    xml += "  </installFiles>\n"
           "  <install><link url=\"https://example.com/register\"/><noAccount>"
           "<internetOn url=\"https://example.com/on\"/><internetOff url=\"https://example.com/off\"/>"
           "</noAccount></install>\n</product>\n";
    return xml;
}

#endif
