#ifndef TQ_PLATFORMNAMES_H
#define TQ_PLATFORMNAMES_H

// Names the uninstaller flow and a platform backend must agree on, spelled once.
namespace PlatformNames
{

// The bundle's folder name: the flow copies the bundle under it into a run folder, and the
// backend knows its own running copy by it.
inline constexpr char kBundleFolder[] = "Uninstall.app";

// Where in the bundle its programs lie: the flow finds its files there, and the backend tells
// the bundle from the folder of the running program by it.
inline constexpr char kExecutableFolder[] = "Contents/MacOS";

// The right the flow asks for before it runs the removal tool with privileges; the only one a
// backend grants.
inline constexpr char kAdminRight[] = "system.privilege.admin";

} // namespace PlatformNames

#endif
