#ifndef TQ_BUNDLELOCATION_H
#define TQ_BUNDLELOCATION_H

#include "TqString.h"

// Where the running application bundle lies: an executable in Name.app/Contents/MacOS, with its
// data files and helper tools beside it.

// The running executable's path, from /proc/self/exe; unset when it cannot be read.
TqString ExecutablePath();

// The folder holding the running executable, from /proc/self/exe; unset when it cannot be read.
TqString ExecutableFolder();

// folder/name when a file of that name exists there, else an unset string.
TqString AuxiliaryPath(const TqString& executableFolder, const TqString& name);

// The bundle around an executable folder: two levels up when the folder ends in Contents/MacOS,
// else the folder itself (a program run outside a bundle).
TqString BundlePathOf(const TqString& executableFolder);

#endif
