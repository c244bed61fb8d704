#ifndef TQ_XMLPARSER_H
#define TQ_XMLPARSER_H

// The one include through which the sources reach TinyXML 2.6. Debian builds the library with its
// STL interface, and the class layouts differ with and without it, so every translation unit must
// see the same setting: define it here before the header is read.
#ifndef TIXML_USE_STL
#define TIXML_USE_STL
#endif

#include <tinyxml.h>

#endif
