#include "UninstallerAlerts.h"

#include <string>

#include "LineEscaping.h"
#include "RemovalLine.h"

namespace
{

const char kDryRunNote[] = "Dry run: nothing will be removed.";

// The details split line by line into the item a line is about and why, for a window's list.
Vector<Alert::DetailLine> DetailLines(const TqString& details)
{
    Vector<Alert::DetailLine> lines;
    unsigned long start = 0;
    while (start < details.Size())
    {
        unsigned long end = details.IndexOf("\n", start);
        if (end == TqString::maxLen)
            end = details.Size();
        const TqString line = details.Substr(start, end - start);
        const RemovalLine parsed = ParseRemovalLine(line);
        if (IsEntryLine(parsed.kind))
        {
            const std::string word = RemovalLineWord(parsed.kind);
            lines.push_back({TqString(word.c_str()) + " " + parsed.subject, parsed.reason});
        }
        else
            lines.push_back({line, TqString()});
        start = end + 1;
    }
    return lines;
}

// The product's own dialogs after the confirmation: "Uninstall <product>" over what happened, with
// the lines that explain it (unset for none).
Alert ProductAlert(const TqString& productName, const TqString& informativeText, AlertKind kind,
                   const TqString& details = TqString())
{
    Alert alert;
    alert.messageText = TqString("Uninstall ") + productName;
    alert.informativeText = informativeText;
    alert.kind = kind;
    alert.details = details;
    alert.detailLines = DetailLines(details);
    return alert;
}

// How many items a failed run could not remove and how many it kept because the definition
// marks them to keep, for the sentence after the failure's own: unset when no item failed (the
// tool ended otherwise). Only the first lines of each sort are held, so a long list gives a
// lower bound of those kept.
TqString FailureCounts(const ToolOutputTally& tally)
{
    const unsigned long failed = tally.Failures().Lines().size() + tally.Failures().More();
    if (failed == 0)
        return TqString();
    unsigned long marked = 0;
    for (const TqString& line : tally.Keeps().Lines())
        marked += ParseRemovalLine(line).reason == TqString(kMarkedToKeepReason) ? 1 : 0;
    std::string text =
        std::to_string(failed) + (failed == 1 ? " item could not be removed" : " items could not be removed");
    if (marked > 0)
        text += ", and " + std::to_string(marked) + (tally.Keeps().More() > 0 ? " or more" : "") +
                (marked == 1 ? " was" : " were") + " kept as the product asks";
    text += "; the details say why.";
    return TqString(text.c_str());
}

// An error of the uninstaller itself rather than of the product: its own title and sentence.
Alert ErrorAlert(const char* title, const char* sentence, const TqString& details)
{
    Alert alert;
    alert.details = details;
    alert.messageText = title;
    alert.informativeText = sentence;
    alert.kind = AlertKind::Error;
    return alert;
}

} // namespace

Alert ConfirmationAlert(const TqString& productName, bool dryRun)
{
    Alert alert;
    if (dryRun)
        alert.details = kDryRunNote;
    alert.messageText = TqString("Uninstall ") + productName;
    alert.informativeText = TqString("Do you wish to remove ") + productName + " and all related components?";
    alert.defaultButton = "Cancel";
    alert.alternateButton = "Uninstall";
    alert.kind = AlertKind::Question;
    return alert;
}

Alert ConfigurationErrorAlert(const TqString& details)
{
    return ErrorAlert("Configuration Error", "Configuration file Uninstall.plist not found in application bundle.",
                      details);
}

Alert UnexpectedErrorAlert(const TqString& details)
{
    return ErrorAlert("Unexpected Error", "An unxpected error has occured. Restart uninstaller.", details);
}

Alert CompletionAlert(const TqString& productName, const TqString& keptDetails)
{
    return ProductAlert(productName, "Uninstallation completed successfully.", AlertKind::Information,
                        keptDetails);
}

Alert FailureAlert(const TqString& productName, const ToolOutputTally& tally)
{
    TqString text = "Uninstallation failed. Some components may not have been removed.";
    const TqString counts = FailureCounts(tally);
    if (counts.IsSet())
        text += TqString(" ") + counts;
    Alert alert = ProductAlert(productName, text, AlertKind::Error, tally.FailureDetails());
    alert.detailsOpen = counts.IsSet();
    return alert;
}

Alert NothingRemovedAlert(const TqString& productName, const TqString& details)
{
    return ProductAlert(productName, "Uninstallation failed. Nothing was removed.", AlertKind::Error,
                        details);
}

Alert DryRunAlert(const TqString& productName, bool wouldFail, const TqString& details)
{
    Alert alert = ProductAlert(productName,
                               wouldFail ? "Dry run: the uninstallation would fail. Nothing was removed."
                                         : "Dry run: the uninstallation would succeed. Nothing was removed.",
                               wouldFail ? AlertKind::Error : AlertKind::Information, details);
    alert.detailsOpen = wouldFail;
    return alert;
}

Alert NotFoundAlert(const TqString& productName, const TqString& targetPath, const TqString& details)
{
    return ProductAlert(productName,
                        productName + " was not found in " + targetPath + ". Nothing was removed.",
                        AlertKind::Error, details);
}

Alert CancelledAlert(const TqString& productName, unsigned long removed, const TqString& keptDetails)
{
    if (removed == 0)
        return ProductAlert(productName, "Uninstallation was cancelled. Nothing was removed.",
                            AlertKind::Information, keptDetails);
    const std::string text = "Uninstallation was cancelled. " + std::to_string(removed) +
                             (removed == 1 ? " item was" : " items were") +
                             " removed; run the uninstaller again to finish.";
    return ProductAlert(productName, TqString(text.c_str()), AlertKind::Information, keptDetails);
}

Alert NoRightsAlert(const TqString& productName, const TqString& reason, const TqString& advice,
                    const TqString& saidLines)
{
    TqString text = TqString("Administrator rights are needed to remove ") + productName +
                    ", and they could not be obtained.";
    if (advice.IsSet())
        text += TqString(" ") + advice;
    return ProductAlert(productName, text, AlertKind::Error,
                        saidLines.IsSet() ? saidLines
                        : reason.IsSet()  ? EscapeLineText(reason)
                                          : TqString());
}
