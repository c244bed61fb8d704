#include "Dialogs.h"

#include <cstdlib>
#include <cstring>
#include <vector>

#include "LineEscaping.h"

namespace
{

struct Button
{
    TqString label;
    int code;
};

// The buttons in the order default, alternate, other; the default one is always there.
std::vector<Button> ButtonsOf(const Alert& alert)
{
    std::vector<Button> buttons;
    buttons.push_back({DefaultButtonLabel(alert), AlertDefaultReturn});
    if (alert.alternateButton.IsSet())
        buttons.push_back({alert.alternateButton, AlertAlternateReturn});
    if (alert.otherButton.IsSet())
        buttons.push_back({alert.otherButton, AlertOtherReturn});
    return buttons;
}

// The message and informative texts, one line each: a product name from the definition may hold
// control characters that would forge lines or reach the terminal as escape sequences.
TqString AlertTextLines(const Alert& alert)
{
    return EscapeLineText(alert.messageText) + "\n" + EscapeLineText(alert.informativeText) + "\n";
}

void WriteText(FILE* output, const TqString& text)
{
    (void)std::fwrite(text.ConstData(), 1, text.Size(), output);
}

} // namespace

DialogMode ChooseDialogMode(const char* unattendedValue, const std::function<bool()>& displayAvailable,
                            const std::function<bool()>& terminalAvailable)
{
    if (unattendedValue != nullptr && std::strcmp(unattendedValue, "1") == 0)
        return DialogMode::Unattended;
    if (displayAvailable())
        return DialogMode::Graphical;
    if (terminalAvailable())
        return DialogMode::Terminal;
    return DialogMode::NonInteractive;
}

TqString DefaultButtonLabel(const Alert& alert)
{
    return alert.defaultButton.IsSet() ? alert.defaultButton : TqString("OK");
}

TqString FormatAlert(const Alert& alert, const TqString& chosenLabel)
{
    TqString text = AlertTextLines(alert);
    std::vector<Button> buttons = ButtonsOf(alert);
    for (size_t index = 0; index < buttons.size(); ++index)
    {
        if (index > 0)
            text += " ";
        text += TqString("[") + buttons[index].label + "]";
    }
    text += "\n";
    if (chosenLabel.IsSet())
        text += TqString("-> ") + chosenLabel + "\n";
    return text + "\n";
}

int UnattendedAnswer(const Alert& alert)
{
    return alert.alternateButton == TqString("Uninstall") ? AlertAlternateReturn : AlertDefaultReturn;
}

int RunStreamAlert(FILE* output, const Alert& alert, bool unattended)
{
    int answer = unattended ? UnattendedAnswer(alert) : AlertDefaultReturn;
    TqString chosen;
    if (unattended)
        chosen = answer == AlertAlternateReturn ? alert.alternateButton : DefaultButtonLabel(alert);
    WriteText(output, FormatAlert(alert, chosen));
    (void)std::fflush(output);
    return answer;
}

namespace
{

// Asks until a button's number, an empty line or the end of input comes; the chosen code, or the
// default button's.
int ReadTerminalChoice(FILE* input, FILE* output, const std::vector<Button>& buttons,
                       const std::function<bool()>& inputReady)
{
    int answer = AlertDefaultReturn;
    char* line = nullptr;
    size_t capacity = 0;
    for (;;)
    {
        (void)std::fprintf(output, "Choose 1-%zu [1]: ", buttons.size());
        (void)std::fflush(output);
        ssize_t length = !inputReady || inputReady() ? getline(&line, &capacity, input) : -1;
        if (length < 0)
        {
            (void)std::fputs("\n", output);
            break;
        }
        TqString choice(line, static_cast<unsigned long>(length));
        while (choice.IsSet() && (choice.EndsWith("\n") || choice.EndsWith("\r") || choice.EndsWith(" ")))
            choice = choice.Substr(0, choice.Size() - 1);
        if (choice.IsEmpty())
            break;
        char* end = nullptr;
        long number = std::strtol(choice.ConstData(), &end, 10);
        if (end != nullptr && *end == '\0' && number >= 1 && number <= static_cast<long>(buttons.size()))
        {
            answer = buttons[static_cast<size_t>(number - 1)].code;
            break;
        }
    }
    std::free(line);
    return answer;
}

} // namespace

int RunTerminalAlert(FILE* input, FILE* output, const Alert& alert, const std::function<bool()>& inputReady)
{
    std::vector<Button> buttons = ButtonsOf(alert);
    // The details are the tool's own lines, each already escaped by it.
    if (alert.details.IsSet())
        WriteText(output, alert.details + "\n\n");
    WriteText(output, AlertTextLines(alert));
    for (size_t index = 0; index < buttons.size(); ++index)
        (void)std::fprintf(output, "%s%zu) %s", index > 0 ? "  " : "", index + 1,
                           buttons[index].label.ConstData());
    (void)std::fputs("\n", output);
    const int answer = ReadTerminalChoice(input, output, buttons, inputReady);
    (void)std::fputs("\n", output);
    (void)std::fflush(output);
    return answer;
}
