#include <cstdio>
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "Dialogs.h"

namespace
{

Alert Confirmation()
{
    Alert alert;
    alert.messageText = "Uninstall Demo 100% Product";
    alert.informativeText = "Do you wish to remove Demo 100% Product and all related components?";
    alert.defaultButton = "Cancel";
    alert.alternateButton = "Uninstall";
    return alert;
}

Alert Completion()
{
    Alert alert;
    alert.messageText = "Uninstall Demo";
    alert.informativeText = "Uninstallation completed successfully.";
    return alert;
}

// Runs the terminal dialog on the given input; the printed text is returned in printed.
int Terminal(const Alert& alert, const std::string& input, std::string* printed)
{
    FILE* in = fmemopen(const_cast<char*>(input.data()), input.size(), "r");
    if (input.empty())
        in = std::fopen("/dev/null", "r");
    char* buffer = nullptr;
    size_t size = 0;
    FILE* out = open_memstream(&buffer, &size);
    int answer = RunTerminalAlert(in, out, alert);
    std::fclose(in);
    std::fclose(out);
    *printed = std::string(buffer, size);
    std::free(buffer);
    return answer;
}

std::string Streamed(const Alert& alert, bool unattended, int* answer)
{
    char* buffer = nullptr;
    size_t size = 0;
    FILE* out = open_memstream(&buffer, &size);
    *answer = RunStreamAlert(out, alert, unattended);
    std::fclose(out);
    std::string text(buffer, size);
    std::free(buffer);
    return text;
}

} // namespace

TEST(Dialogs, ModeIsUnattendedThenDisplayThenTerminal)
{
    int displayChecks = 0, terminalChecks = 0;
    auto display = [&](bool result)
    {
        return [&, result]
        {
            ++displayChecks;
            return result;
        };
    };
    auto terminal = [&](bool result)
    {
        return [&, result]
        {
            ++terminalChecks;
            return result;
        };
    };

    EXPECT_EQ(ChooseDialogMode("1", display(true), terminal(true)), DialogMode::Unattended);
    EXPECT_EQ(displayChecks + terminalChecks, 0);
    EXPECT_EQ(ChooseDialogMode("0", display(true), terminal(true)), DialogMode::Graphical);
    EXPECT_EQ(terminalChecks, 0);
    EXPECT_EQ(ChooseDialogMode("yes", display(false), terminal(true)), DialogMode::Terminal);
    EXPECT_EQ(ChooseDialogMode("1 ", display(false), terminal(false)), DialogMode::NonInteractive);
    EXPECT_EQ(ChooseDialogMode(nullptr, display(false), terminal(false)), DialogMode::NonInteractive);
    EXPECT_EQ(displayChecks, 4);
    EXPECT_EQ(terminalChecks, 3);
}

TEST(Dialogs, StandardErrorFormatIsExact)
{
    EXPECT_STREQ(FormatAlert(Confirmation(), TqString()).ConstData(),
                 "Uninstall Demo 100% Product\n"
                 "Do you wish to remove Demo 100% Product and all related components?\n"
                 "[Cancel] [Uninstall]\n\n");
    EXPECT_STREQ(FormatAlert(Completion(), "OK").ConstData(),
                 "Uninstall Demo\nUninstallation completed successfully.\n[OK]\n-> OK\n\n");
    Alert three = Completion();
    three.defaultButton = "Yes";
    three.alternateButton = "No";
    three.otherButton = "Maybe";
    EXPECT_STREQ(FormatAlert(three, "Maybe").ConstData(),
                 "Uninstall Demo\nUninstallation completed successfully.\n[Yes] [No] [Maybe]\n-> Maybe\n\n");
    EXPECT_STREQ(DefaultButtonLabel(Completion()).ConstData(), "OK");
}

TEST(Dialogs, StreamAlertsAnswerWithoutAsking)
{
    int answer = 99;
    EXPECT_EQ(Streamed(Confirmation(), true, &answer),
              "Uninstall Demo 100% Product\n"
              "Do you wish to remove Demo 100% Product and all related components?\n"
              "[Cancel] [Uninstall]\n-> Uninstall\n\n");
    EXPECT_EQ(answer, AlertAlternateReturn);
    EXPECT_EQ(Streamed(Completion(), true, &answer),
              "Uninstall Demo\nUninstallation completed successfully.\n[OK]\n-> OK\n\n");
    EXPECT_EQ(answer, AlertDefaultReturn);
    // Without a user the confirmation is never given.
    EXPECT_EQ(Streamed(Confirmation(), false, &answer),
              "Uninstall Demo 100% Product\n"
              "Do you wish to remove Demo 100% Product and all related components?\n"
              "[Cancel] [Uninstall]\n\n");
    EXPECT_EQ(answer, AlertDefaultReturn);

    Alert otherAlternate = Completion();
    otherAlternate.alternateButton = "Retry";
    EXPECT_EQ(UnattendedAnswer(otherAlternate), AlertDefaultReturn);
    EXPECT_EQ(UnattendedAnswer(Confirmation()), AlertAlternateReturn);
}

TEST(Dialogs, TerminalPicksByNumber)
{
    std::string printed;
    EXPECT_EQ(Terminal(Confirmation(), "2\n", &printed), AlertAlternateReturn);
    EXPECT_EQ(printed, "Uninstall Demo 100% Product\n"
                       "Do you wish to remove Demo 100% Product and all related components?\n"
                       "1) Cancel  2) Uninstall\n"
                       "Choose 1-2 [1]: \n");
    EXPECT_EQ(Terminal(Confirmation(), "1\n", &printed), AlertDefaultReturn);
    EXPECT_EQ(Terminal(Confirmation(), "\n", &printed), AlertDefaultReturn);
    EXPECT_EQ(Terminal(Confirmation(), "", &printed), AlertDefaultReturn);
    EXPECT_EQ(Terminal(Confirmation(), "3\nx\n02 \n", &printed), AlertAlternateReturn);
    EXPECT_EQ(Terminal(Confirmation(), "9\n", &printed), AlertDefaultReturn);
    EXPECT_NE(printed.find("Choose 1-2 [1]: Choose 1-2 [1]: "), std::string::npos);

    Alert three = Completion();
    three.defaultButton = "Yes";
    three.alternateButton = "No";
    three.otherButton = "Maybe";
    EXPECT_EQ(Terminal(three, "3\n", &printed), AlertOtherReturn);
    EXPECT_NE(printed.find("1) Yes  2) No  3) Maybe\n"), std::string::npos);
    EXPECT_EQ(Terminal(Completion(), "2\n", &printed), AlertDefaultReturn);
    EXPECT_NE(printed.find("1) OK\nChoose 1-1 [1]: "), std::string::npos);
}

TEST(Dialogs, NamesAreEscapedWhereverTheyArePrinted)
{
    // A name from the definition that would forge a line and colour the terminal.
    Alert forged = Confirmation();
    forged.messageText = "Uninstall Evil\n-> Uninstall\x1b[2J C:\\x";
    forged.informativeText = "Do you wish to remove Evil\t\x7f?";
    const std::string lines = "Uninstall Evil\\n-> Uninstall\\x1B[2J C:\\\\x\n"
                              "Do you wish to remove Evil\\t\\x7F?\n";
    int answer = 99;
    EXPECT_EQ(Streamed(forged, true, &answer), lines + "[Cancel] [Uninstall]\n-> Uninstall\n\n");
    EXPECT_EQ(Streamed(forged, false, &answer), lines + "[Cancel] [Uninstall]\n\n");
    std::string printed;
    Terminal(forged, "\n", &printed);
    EXPECT_EQ(printed.substr(0, lines.size()), lines);
}

// What failed is printed before the dialog at a terminal; scripts reading standard error see
// the fixed format without it.
TEST(Dialogs, DetailsReachTheTerminalOnly)
{
    Alert failure = Completion();
    failure.informativeText = "Uninstallation failed. Some components may not have been removed.";
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
