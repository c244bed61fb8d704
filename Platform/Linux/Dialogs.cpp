#include "Dialogs.h"

#include <cerrno>
#include <csignal>
#include <poll.h>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "FileStream.h"
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
    // The format of the dialog itself is fixed for the scripts that read it: the lines that
    // explain it come before it.
    if (alert.details.IsSet())
        WriteText(output, alert.details + "\n");
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

volatile sig_atomic_t interrupted = 0;

void NoteInterruption(int)
{
    interrupted = 1;
}

// While a question waits at the terminal, Ctrl-C answers it with the default button, whatever
// this process otherwise does with Ctrl-C, and the next line typed is never taken for the answer.
// SIGINT is held back but during the wait itself, so one that comes just before it is not lost.
class InterruptionAnswers
{
public:
    InterruptionAnswers()
    {
        struct sigaction noting = {};
        noting.sa_handler = NoteInterruption;
        sigemptyset(&noting.sa_mask);
        interrupted = 0;
        sigaction(SIGINT, &noting, &previous);
        sigset_t interruption;
        sigemptyset(&interruption);
        sigaddset(&interruption, SIGINT);
        sigprocmask(SIG_BLOCK, &interruption, &previousMask);
    }
    ~InterruptionAnswers()
    {
        sigprocmask(SIG_SETMASK, &previousMask, nullptr);
        sigaction(SIGINT, &previous, nullptr);
    }
    InterruptionAnswers(const InterruptionAnswers&) = delete;
    InterruptionAnswers& operator=(const InterruptionAnswers&) = delete;

    // Waits until fd has input; false when Ctrl-C came first. A stream without a descriptor (one
    // in memory) is always ready.
    bool WaitForInput(int fd)
    {
        if (fd < 0)
            return interrupted == 0;
        sigset_t waiting = previousMask;
        sigdelset(&waiting, SIGINT);
        struct pollfd ready = {fd, POLLIN, 0};
        while (interrupted == 0 && ppoll(&ready, 1, nullptr, &waiting) < 0 && errno == EINTR)
        {
        }
        return interrupted == 0;
    }

private:
    struct sigaction previous;
    sigset_t previousMask;
};

// Asks until a button's number, an empty line or the end of input comes, or inputReady says no
// input will come; the chosen code, or the default button's. One button needs no choice: any line
// closes it.
int ReadTerminalChoice(FILE* input, FILE* output, const std::vector<Button>& buttons,
                       const std::function<bool()>& inputReady)
{
    int answer = AlertDefaultReturn;
    char* line = nullptr;
    size_t capacity = 0;
    for (;;)
    {
        if (buttons.size() == 1)
            (void)std::fputs("Press Enter ", output);
        else
            (void)std::fprintf(output, "Choose 1-%zu [1]: ", buttons.size());
        (void)std::fflush(output);
        ssize_t length = inputReady() ? getline(&line, &capacity, input) : -1;
        if (length < 0)
        {
            std::clearerr(input);
            (void)std::fputs("\n", output);
            break;
        }
        if (buttons.size() == 1)
            break;
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
    if (buttons.size() > 1)
    {
        for (size_t index = 0; index < buttons.size(); ++index)
            (void)std::fprintf(output, "%s%zu) %s", index > 0 ? "  " : "", index + 1,
                               buttons[index].label.ConstData());
        (void)std::fputs("\n", output);
    }
    int answer;
    if (inputReady)
        answer = ReadTerminalChoice(input, output, buttons, inputReady);
    else
    {
        InterruptionAnswers interruption;
        answer = ReadTerminalChoice(input, output, buttons,
                                    [&] { return interruption.WaitForInput(fileno(input)); });
    }
    (void)std::fputs("\n", output);
    (void)std::fflush(output);
    return answer;
}

int RunAlertAtTerminal(const Alert& alert, const std::function<bool(int)>& waitForInput)
{
    const FileStream input(std::fopen("/dev/tty", "re"));
    const FileStream output(std::fopen("/dev/tty", "we"));
    if (!input.IsOpen() || !output.IsOpen())
        return RunStreamAlert(stderr, alert, false);
    if (waitForInput)
        return RunTerminalAlert(input.Get(), output.Get(), alert,
                                [&] { return waitForInput(fileno(input.Get())); });
    return RunTerminalAlert(input.Get(), output.Get(), alert);
}
