#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "Dialogs.h"

namespace
{

Alert MakeAlert(const char* message, const char* informative, const char* defaultButton = nullptr,
                const char* alternate = nullptr, const char* other = nullptr, const char* details = nullptr)
{
    Alert alert;
    alert.messageText = message;
    alert.informativeText = informative;
    alert.defaultButton = defaultButton != nullptr ? TqString(defaultButton) : TqString();
    alert.alternateButton = alternate != nullptr ? TqString(alternate) : TqString();
    alert.otherButton = other != nullptr ? TqString(other) : TqString();
    alert.details = details != nullptr ? TqString(details) : TqString();
    return alert;
}

const char kDone[] = "Uninstallation completed successfully.";
const Alert kConfirmation =
    MakeAlert("Uninstall Demo 100% Product",
              "Do you wish to remove Demo 100% Product and all related components?", "Cancel", "Uninstall");
const Alert kCompletion = MakeAlert("Uninstall Demo", kDone);
const Alert kThreeButtons = MakeAlert("Uninstall Demo", kDone, "Yes", "No", "Maybe");
const Alert kRetry = MakeAlert("Uninstall Demo", kDone, nullptr, "Retry");
// A name from the definition that would forge a line and colour the terminal.
const Alert kForged = MakeAlert("Uninstall Evil\n-> Uninstall\x1b[2J C:\\x",
                                "Do you wish to remove Evil\t\x7f?", "Cancel", "Uninstall");
const std::string kFailureDetails = "failed /opt/a: Busy\nrefused ..: not a plain name\n... and 2 more";
const Alert kFailure =
    MakeAlert("Uninstall Demo", "Uninstallation failed.", nullptr, nullptr, nullptr, kFailureDetails.c_str());

const std::string kConfirmationText = "Uninstall Demo 100% Product\n"
                                      "Do you wish to remove Demo 100% Product and all related components?\n";
const std::string kDoneText = "Uninstall Demo\nUninstallation completed successfully.\n";
const std::string kForgedText =
    "Uninstall Evil\\n-> Uninstall\\x1B[2J C:\\\\x\nDo you wish to remove Evil\\t\\x7F?\n";
const std::string kFailureText = "Uninstall Demo\nUninstallation failed.\n";

// What write printed to a memory stream.
std::string Printed(const std::function<void(FILE*)>& write)
{
    char* buffer = nullptr;
    size_t size = 0;
    FILE* out = open_memstream(&buffer, &size);
    write(out);
    std::fclose(out);
    std::string text(buffer, size);
    std::free(buffer);
    return text;
}

} // namespace

TEST(Dialogs, ModeIsUnattendedThenDisplayThenTerminal)
{
    struct Case
    {
        const char* unattended;
        bool display, terminal;
        DialogMode mode;
        int displayChecks, terminalChecks;
    } cases[] = {
        {"1", true, true, DialogMode::Unattended, 0, 0}, // neither check runs
        {"0", true, true, DialogMode::Graphical, 1, 0},
        {"yes", false, true, DialogMode::Terminal, 1, 1},
        {"1 ", false, false, DialogMode::NonInteractive, 1, 1},
        {nullptr, false, false, DialogMode::NonInteractive, 1, 1},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.unattended ? c.unattended : "(unset)");
        int displayChecks = 0, terminalChecks = 0;
        EXPECT_EQ(ChooseDialogMode(
                      c.unattended, [&] { return ++displayChecks, c.display; },
                      [&] { return ++terminalChecks, c.terminal; }),
                  c.mode);
        EXPECT_EQ(displayChecks, c.displayChecks);
        EXPECT_EQ(terminalChecks, c.terminalChecks);
    }
}

// Standard error's fixed format, names escaped, the details written before it; unattended, only "Uninstall" as
// the alternate is ever chosen, and without a user the confirmation is never given.
TEST(Dialogs, StreamAlertsAnswerWithoutAsking)
{
    struct Case
    {
        const Alert& alert;
        bool unattended;
        std::string text;
        int answer;
    } cases[] = {
        {kConfirmation, true, kConfirmationText + "[Cancel] [Uninstall]\n-> Uninstall\n\n",
         AlertAlternateReturn},
        {kConfirmation, false, kConfirmationText + "[Cancel] [Uninstall]\n\n", AlertDefaultReturn},
        {kCompletion, true, kDoneText + "[OK]\n-> OK\n\n", AlertDefaultReturn},
        {kRetry, true, kDoneText + "[OK] [Retry]\n-> OK\n\n", AlertDefaultReturn},
        {kThreeButtons, true, kDoneText + "[Yes] [No] [Maybe]\n-> Yes\n\n", AlertDefaultReturn},
        {kForged, true, kForgedText + "[Cancel] [Uninstall]\n-> Uninstall\n\n", AlertAlternateReturn},
        {kForged, false, kForgedText + "[Cancel] [Uninstall]\n\n", AlertDefaultReturn},
        {kFailure, true, kFailureDetails + "\n" + kFailureText + "[OK]\n-> OK\n\n", AlertDefaultReturn},
        {kFailure, false, kFailureDetails + "\n" + kFailureText + "[OK]\n\n", AlertDefaultReturn},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.text);
        int answer = 99;
        EXPECT_EQ(Printed([&](FILE* out) { answer = RunStreamAlert(out, c.alert, c.unattended); }), c.text);
        EXPECT_EQ(answer, c.answer);
    }
}

// Numbered buttons, asked again until a number, an empty line or the end of input; the details
// come first; names are escaped.
TEST(Dialogs, TerminalPicksByNumber)
{
    const std::string menu = kConfirmationText + "1) Cancel  2) Uninstall\n";
    const std::string ask = "Choose 1-2 [1]: ";
    struct Case
    {
        const Alert& alert;
        const char* input;
        int answer;
        std::string printed;
    } cases[] = {
        {kConfirmation, "2\n", AlertAlternateReturn, menu + ask + "\n"},
        {kConfirmation, "1\n", AlertDefaultReturn, menu + ask + "\n"},
        {kConfirmation, "\n", AlertDefaultReturn, menu + ask + "\n"},
        {kConfirmation, "", AlertDefaultReturn, menu + ask + "\n\n"},
        {kConfirmation, "3\nx\n02 \n", AlertAlternateReturn, menu + ask + ask + ask + "\n"},
        {kConfirmation, "9\n", AlertDefaultReturn, menu + ask + ask + "\n\n"},
        {kThreeButtons, "3\n", AlertOtherReturn, kDoneText + "1) Yes  2) No  3) Maybe\nChoose 1-3 [1]: \n"},
        {kCompletion, "2\n", AlertDefaultReturn, kDoneText + "Press Enter \n"},
        {kForged, "\n", AlertDefaultReturn, kForgedText + "1) Cancel  2) Uninstall\n" + ask + "\n"},
        {kFailure, "\n", AlertDefaultReturn, kFailureDetails + "\n\n" + kFailureText + "Press Enter \n"},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.input);
        int answer = -1;
        EXPECT_EQ(Printed(
                      [&](FILE* out)
                      {
                          FILE* in = *c.input
                                         ? fmemopen(const_cast<char*>(c.input), std::strlen(c.input), "r")
                                         : std::fopen("/dev/null", "r");
                          answer = RunTerminalAlert(in, out, c.alert);
                          std::fclose(in);
                      }),
                  c.printed);
        EXPECT_EQ(answer, c.answer);
    }
}
