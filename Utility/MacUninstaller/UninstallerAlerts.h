#ifndef TQ_UNINSTALLERALERTS_H
#define TQ_UNINSTALLERALERTS_H

#include "ToolOutputTally.h"
#include "TqString.h"
#include "UninstallerPlatform.h"

// The dialogs the uninstaller shows, as data: their texts, buttons, kind and details. The product
// name is put in by concatenation, never through a format, so a "%" in it stays literal. The
// dialogs after the confirmation read "Uninstall <product>" over what happened.

// The confirmation; a dry run's keeps its texts, and its details say that nothing will go.
Alert ConfirmationAlert(const TqString& productName, bool dryRun);
// A data file of the bundle is missing or cannot be used; details say which and why.
Alert ConfigurationErrorAlert(const TqString& details = TqString());
Alert UnexpectedErrorAlert(const TqString& details);
// The tool removed everything; keptDetails tell what it kept and why (unset for none).
Alert CompletionAlert(const TqString& productName, const TqString& keptDetails);
// The failure's own sentence, then how many items failed and were kept; the details are shown at
// once when an item failed.
Alert FailureAlert(const TqString& productName, const ToolOutputTally& tally);
// The tool refused to start removing (exit 2).
Alert NothingRemovedAlert(const TqString& productName, const TqString& details);
// A dry run that ended with the tool's status 0 or 1: what would go and what would fail, in the
// details, without the words of a removal that happened.
Alert DryRunAlert(const TqString& productName, bool wouldFail, const TqString& details);
// Nothing the definition lists was in the target folder (the tool's exit 3): the installation was
// moved, or the target file names the wrong folder.
Alert NotFoundAlert(const TqString& productName, const TqString& targetPath, const TqString& details);
// The tool was stopped (exit 4): before it removed anything, or between entries, what it did not
// reach kept (said in the details) for a second run to finish.
Alert CancelledAlert(const TqString& productName, unsigned long removed = 0,
                     const TqString& keptDetails = TqString());
// The rights could not be had; advice, when set, says why and what to do after the dialog's own
// sentence, and the details hold what the elevation program said (saidLines, the tool's already
// escaped lines), else the reason, escaped.
Alert NoRightsAlert(const TqString& productName, const TqString& reason, const TqString& advice = TqString(),
                    const TqString& saidLines = TqString());

#endif
