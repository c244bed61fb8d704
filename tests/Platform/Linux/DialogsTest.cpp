#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "Dialogs.h"

namespace
{

Alert MakeAlert(const char* message, const char* informative, const char* defaultButton = nullptr,
                const char* alternate = nullptr, const char* other = nullptr)
{
    Alert alert;
    alert.messageText = message;
    alert.informativeText = informative;
    if (defaultButton != nullptr)
        alert.defaultButton = defaultButton;
    if (alternate != nullptr)
        alert.alternateButton = alternate;
    if (other != nullptr)
        alert.otherButton = other;
    return alert;
}

const std::string kConfirmationText = "Uninstall Demo 100% Product\n"
                                      "Do you wish to remove Demo 100% Product and all related components?\n";
const Alert kConfirmation =
    MakeAlert("Uninstall Demo 100% Product",
              "Do you wish to remove Demo 100% Product and all related components?", "Cancel", "Uninstall");
const Alert kCompletion = MakeAlert("Uninstall Demo", "Uninstallation completed successfully.");
const Alert kThreeButtons =
    MakeAlert("Uninstall Demo", "Uninstallation completed successfully.", "Yes", "No", "Maybe");

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

// The terminal dialog answering input; what it printed goes to printed.
int Terminal(const Alert& alert, const std::string& input, std::string* printed)
{
    int answer = -1;
    *printed = Printed(
        [&](FILE* out)
        {
            FILE* in = input.empty() ? std::fopen("/dev/null", "r")
                                     : fmemopen(const_cast<char*>(input.data()), input.size(), "r");
            answer = RunTerminalAlert(in, out, alert);
            std::fclose(in);
        });
    return answer;
}

std::string Streamed(const Alert& alert, bool unattended, int* answer)
{
    return Printed([&](FILE* out) { *answer = RunStreamAlert(out, alert, unattended); });
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

// Standard error's fixed format; unattended, only "Uninstall" as the alternate is ever chosen, and
// without a user the confirmation is never given.
TEST(Dialogs, StreamAlertsAnswerWithoutAsking)
{
    const Alert retry =
        MakeAlert("Uninstall Demo", "Uninstallation completed successfully.", nullptr, "Retry");
    const std::string completed = "Uninstall Demo\nUninstallation completed successfully.\n";
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
        {kCompletion, true, completed + "[OK]\n-> OK\n\n", AlertDefaultReturn},
        {retry, true, completed + "[OK] [Retry]\n-> OK\n\n", AlertDefaultReturn},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.text);
        int answer = 99;
        EXPECT_EQ(Streamed(c.alert, c.unattended, &answer), c.text);
        EXPECT_EQ(answer, c.answer);
    }
    EXPECT_STREQ(FormatAlert(kThreeButtons, "Maybe").ConstData(),
                 (completed + "[Yes] [No] [Maybe]\n-> Maybe\n\n").c_str());
}

TEST(Dialogs, TerminalPicksByNumber)
{
    std::string printed;
    EXPECT_EQ(Terminal(kConfirmation, "2\n", &printed), AlertAlternateReturn);
    EXPECT_EQ(printed, kConfirmationText + "1) Cancel  2) Uninstall\nChoose 1-2 [1]: \n");
    struct Case
    {
        const Alert& alert;
        const char* input;
        int answer;
        const char* printedPart;
    } cases[] = {
        {kConfirmation, "1\n", AlertDefaultReturn, nullptr},
        {kConfirmation, "\n", AlertDefaultReturn, nullptr},
        {kConfirmation, "", AlertDefaultReturn, nullptr}, // end of input
        {kConfirmation, "3\nx\n02 \n", AlertAlternateReturn, "Choose 1-2 [1]: Choose 1-2 [1]: Choose"},
        {kConfirmation, "9\n", AlertDefaultReturn, "Choose 1-2 [1]: Choose 1-2 [1]: "},
        {kThreeButtons, "3\n", AlertOtherReturn, "1) Yes  2) No  3) Maybe\n"},
        {kCompletion, "2\n", AlertDefaultReturn, "1) OK\nChoose 1-1 [1]: "},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.input);
        EXPECT_EQ(Terminal(c.alert, c.input, &printed), c.answer);
        if (c.printedPart != nullptr)
            EXPECT_NE(printed.find(c.printedPart), std::string::npos) << printed;
    }
}

TEST(Dialogs, NamesAreEscapedWhereverTheyArePrinted)
{
    // A name from the definition that would forge a line and colour the terminal.
    const Alert forged = MakeAlert("Uninstall Evil\n-> Uninstall\x1b[2J C:\\x",
                                   "Do you wish to remove Evil\t\x7f?", "Cancel", "Uninstall");
    const std::string lines =
        "Uninstall Evil\\n-> Uninstall\\x1B[2J C:\\\\x\nDo you wish to remove Evil\\t\\x7F?\n";
    int answer = 99;
    EXPECT_EQ(Streamed(forged, true, &answer), lines + "[Cancel] [Uninstall]\n-> Uninstall\n\n");
    EXPECT_EQ(Streamed(forged, false, &answer), lines + "[Cancel] [Uninstall]\n\n");
    std::string printed;
    Terminal(forged, "\n", &printed);
    EXPECT_EQ(printed.substr(0, lines.size()), lines);
}

// What failed is printed before the dialog at a terminal; standard error keeps its fixed format.
TEST(Dialogs, DetailsReachTheTerminalOnly)
{
    Alert failure =
        MakeAlert("Uninstall Demo", "Uninstallation failed. Some components may not have been removed.");
    failure.details = "failed /opt/a: Busy\nrefused ..: not a plain name\n... and 2 more";
    std::string printed;
    EXPECT_EQ(Terminal(failure, "\n", &printed), AlertDefaultReturn);
    EXPECT_EQ(printed, "failed /opt/a: Busy\nrefused ..: not a plain name\n... and 2 more\n\n"
                       "Uninstall Demo\nUninstallation failed. Some components may not have been removed.\n"
                       "1) OK\nChoose 1-1 [1]: \n");
    Alert plain = failure;
    plain.details = TqString();
    for (bool unattended : {true, false})
    {
        int answer = 0;
        EXPECT_EQ(Streamed(failure, unattended, &answer), Streamed(plain, unattended, &answer));
    }
}
