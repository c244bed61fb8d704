#ifndef TQ_FAKEUNINSTALLERPLATFORM_H
#define TQ_FAKEUNINSTALLERPLATFORM_H

#include <deque>
#include <map>
#include <string>
#include <vector>

#include "UninstallerPlatform.h"

// Plays scripted answers and results to the flow and records, in order, what the flow asked for.
class FakeUninstallerPlatform : public UninstallerPlatform
{
public:
    // Scripted behaviour.
    std::map<std::string, std::string> auxiliaryFiles; // name -> path in the bundle's executable folder
    std::string bundlePath = "/Applications/Demo/Uninstall.app";
    std::string temporaryDirectory = "/tmp/fake";
    std::deque<int> alertAnswers; // answers in order; the default button once they run out
    Status temporaryResult;
    Status createDirectoryResult;
    Status copyResult;
    Status launchResult;
    Status acquireResult;
    Status executeResult;
    std::string rightsReason; // with a run of the tool that ends RightsNotObtained
    std::string rightsAdvice;
    std::string toolOutput; // handed out at most a line per read, as the tool writes it
    // One outcome per run of the tool, in order (Restarted gives the output again); the last repeats.
    std::deque<ToolOutcome> toolOutcomes{ToolOutcome::Succeeded};
    Status findFilesResult;
    // A stop is asked for during the first call that starts with this text (none when empty).
    std::string stopDuring;

    // What the flow did.
    std::vector<std::string> calls;
    std::vector<Alert> alerts;
    size_t outputRead = 0;
    std::vector<std::string> installedFiles; // what FindInstalledFiles was given, in order
    // The progress calls, apart from calls: "Begin NAME of TOTAL", "Show N PATH", "End after N alerts".
    std::vector<std::string> progress;

    int RunAlert(const Alert& alert) override
    {
        alerts.push_back(alert);
        Record("RunAlert " + Text(alert.messageText), 0);
        if (alertAnswers.empty())
            return AlertDefaultReturn;
        int answer = alertAnswers.front();
        alertAnswers.pop_front();
        return answer;
    }
    TqString PathForAuxiliaryExecutable(const TqString& name) override
    {
        auto found = auxiliaryFiles.find(name.ConstData());
        return found == auxiliaryFiles.end() ? TqString() : TqString(found->second.c_str());
    }
    TqString BundlePath() override { return bundlePath.c_str(); }
    Result<TqString> TemporaryDirectory() override
    {
        if (!temporaryResult.IsDone())
            return temporaryResult;
        return TqString(temporaryDirectory.c_str());
    }
    TqString GloballyUniqueString() override { return "UNIQUE-42"; }
    Status CreateDirectory(const TqString& path) override
    {
        return Record("CreateDirectory " + Text(path), createDirectoryResult);
    }
    Status CopyItem(const TqString& from, const TqString& to) override
    {
        return Record("CopyItem " + Text(from) + " -> " + Text(to), copyResult);
    }
    Status LaunchTask(const TqString& path, const Vector<TqString>& arguments) override
    {
        return Record("LaunchTask " + Text(path) + Joined(arguments), launchResult);
    }
    void ActivateIgnoringOtherApps() override { calls.push_back("Activate"); }
    bool StopWasRequested() override { return stopRequested; }
    Status CreateAuthorization() override { return Record("CreateAuthorization", Status::Done()); }
    Status AcquireRight(const TqString& name) override
    {
        return Record("AcquireRight " + Text(name), acquireResult);
    }
    Status ExecuteWithPrivileges(const TqString& toolPath, const Vector<TqString>& arguments) override
    {
        return Record("Execute " + Text(toolPath) + Joined(arguments), executeResult);
    }
    void FreeAuthorization() override { calls.push_back("FreeAuthorization"); }
    long ReadToolOutput(char* buffer, unsigned long size) override
    {
        const size_t lineEnd = toolOutput.find('\n', outputRead);
        const size_t line = (lineEnd == std::string::npos ? toolOutput.size() : lineEnd + 1) - outputRead;
        const size_t count = std::min<size_t>(size, line);
        toolOutput.copy(buffer, count, outputRead);
        outputRead += count;
        return static_cast<long>(count);
    }
    ToolEnding WaitForTool() override
    {
        calls.push_back("WaitForTool after " + std::to_string(outputRead) + " bytes");
        const ToolOutcome outcome = toolOutcomes.front();
        if (toolOutcomes.size() > 1)
            toolOutcomes.pop_front();
        if (outcome == ToolOutcome::Restarted)
            outputRead = 0;
        if (outcome != ToolOutcome::RightsNotObtained)
            return ToolEnding{outcome, TqString(), TqString()};
        return ToolEnding{outcome, rightsReason.c_str(), rightsAdvice.c_str()};
    }

    Status RemoveItem(const TqString& path) override { return Record("RemoveItem " + Text(path), Status::Done()); }
    Status RemoveRunningCopy() override { return Record("RemoveRunningCopy", Status::Done()); }
    // Hands back the paths as given, but for those realPaths names (path -> real path).
    std::map<std::string, std::string> realPaths;
    Result<InstalledFiles> FindInstalledFiles(const InstalledFiles& named) override
    {
        InstalledFiles found = named;
        for (TqString* path : {&found.tool, &found.definition, &found.targetPathFile})
        {
            installedFiles.push_back(path->ConstData());
            auto real = realPaths.find(path->ConstData());
            if (real != realPaths.end())
                *path = real->second.c_str();
        }
        if (!findFilesResult.IsDone())
            return findFilesResult;
        return found;
    }
    // The refusals recorded for the system log.
    std::vector<std::string> refusals;
    void RecordRefusal(const TqString& line) override { refusals.push_back(Text(line)); }
    // What CheckRootMayRunInstallation answers.
    Status rootCheckResult;
    Status CheckRootMayRunInstallation(const Vector<TqString>&) override { return rootCheckResult; }
    void BeginToolProgress(const TqString& productName, unsigned long totalEntries) override
    {
        progress.push_back("Begin " + Text(productName) + " of " + std::to_string(totalEntries));
    }
    void ShowToolProgress(unsigned long handledEntries, const TqString& currentPath,
                          const TqString& activity) override
    {
        progress.push_back("Show " + std::to_string(handledEntries) + " " + Text(currentPath) +
                           (activity.IsSet() ? " [" + Text(activity) + "]" : ""));
    }
    void EndToolProgress() override
    {
        progress.push_back("End after " + std::to_string(alerts.size()) + " alerts");
    }

    // How many calls the flow made that start with prefix.
    size_t Count(const std::string& prefix) const
    {
        size_t count = 0;
        for (const std::string& call : calls)
            count += call.compare(0, prefix.size(), prefix) == 0 ? 1 : 0;
        return count;
    }

private:
    template <typename Value> Value Record(const std::string& call, Value result)
    {
        calls.push_back(call);
        if (!stopDuring.empty() && call.compare(0, stopDuring.size(), stopDuring) == 0)
            stopRequested = true;
        return result;
    }
    bool stopRequested = false;
    static std::string Text(const TqString& text) { return text.ConstData(); }
    static std::string Joined(const Vector<TqString>& arguments)
    {
        std::string text;
        for (const TqString& argument : arguments)
            text += " " + Text(argument);
        return text;
    }
};

#endif
