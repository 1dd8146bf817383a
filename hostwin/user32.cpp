// user32: the message box, answered from the test's queue, HOSTWIN_ANSWERS, a person at the
// terminal, or as a person who dismisses it.
#include "internal.h"
#include "support/ansi_text.h"

#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>

using namespace hostwin;

namespace {

constexpr DWORD ERROR_INVALID_MSGBOX_STYLE = 1438;
constexpr UINT MB_TYPEMASK = 0x0000000F;
constexpr UINT MB_DEFMASK = 0x00000F00;

std::mutex mutex;
std::vector<MessageBoxRecord> records;
std::deque<int> queuedAnswers;
// HOSTWIN_ANSWERS, read at the first box (and again after a reset), used in turn.
bool environmentRead = false;
std::deque<int> environmentAnswers;

struct Button {
    int id;
    const char *label;  // the letter in brackets is what a person types
};

// The buttons of each MB_ type, in the order the box shows them.
std::vector<Button> ButtonsOf(UINT style)
{
    switch (style & MB_TYPEMASK) {
    case MB_OK:
        return {{IDOK, "[O]K"}};
    case MB_OKCANCEL:
        return {{IDOK, "[O]K"}, {IDCANCEL, "[C]ancel"}};
    case MB_ABORTRETRYIGNORE:
        return {{IDABORT, "[A]bort"}, {IDRETRY, "[R]etry"}, {IDIGNORE, "[I]gnore"}};
    case MB_YESNOCANCEL:
        return {{IDYES, "[Y]es"}, {IDNO, "[N]o"}, {IDCANCEL, "[C]ancel"}};
    case MB_YESNO:
        return {{IDYES, "[Y]es"}, {IDNO, "[N]o"}};
    case MB_RETRYCANCEL:
        return {{IDRETRY, "[R]etry"}, {IDCANCEL, "[C]ancel"}};
    default:
        return {};
    }
}

// What closing the box gives: Cancel where there is one, else the one way out the box offers.
int DismissalAnswer(UINT style)
{
    switch (style & MB_TYPEMASK) {
    case MB_OK:
        return IDOK;
    case MB_YESNO:
        return IDNO;
    case MB_ABORTRETRYIGNORE:
        return IDABORT;
    default:
        return IDCANCEL;
    }
}

bool Offers(const std::vector<Button> &buttons, int answer)
{
    for (const Button &button : buttons)
        if (button.id == answer)
            return true;
    return false;
}

int ParseAnswer(std::string token)
{
    while (!token.empty() && std::isspace((unsigned char)token.back()))
        token.pop_back();
    size_t start = 0;
    while (start < token.size() && std::isspace((unsigned char)token[start]))
        start++;
    token = token.substr(start);
    for (char &c : token)
        c = (char)std::toupper((unsigned char)c);
    if (token.rfind("ID", 0) == 0)
        token = token.substr(2);
    static const struct {
        const char *name;
        int id;
    } names[] = {{"OK", IDOK},         {"CANCEL", IDCANCEL}, {"ABORT", IDABORT}, {"RETRY", IDRETRY},
                 {"IGNORE", IDIGNORE}, {"YES", IDYES},       {"NO", IDNO}};
    for (const auto &name : names)
        if (token == name.name)
            return name.id;
    char *end = nullptr;
    long number = std::strtol(token.c_str(), &end, 10);
    // An answer that cannot be read is kept in its place as one no box offers.
    return (!token.empty() && end != nullptr && *end == 0) ? (int)number : 0;
}

void ReadEnvironmentAnswers()
{
    if (environmentRead)
        return;
    environmentRead = true;
    environmentAnswers.clear();
    const char *text = std::getenv("HOSTWIN_ANSWERS");
    if (text == nullptr || *text == 0)
        return;
    std::string all = text, token;
    for (size_t i = 0; i <= all.size(); i++) {
        if (i == all.size() || all[i] == ',') {
            environmentAnswers.push_back(ParseAnswer(token));
            token.clear();
        } else
            token += all[i];
    }
}

// Shows the box on the terminal and reads the person's choice; nullopt at the end of input.
std::optional<int> AskAtTerminal(const std::string &text, const std::string &caption, UINT style,
                                 const std::vector<Button> &buttons)
{
    size_t defaultButton = (style & MB_DEFMASK) >> 8;
    if (defaultButton >= buttons.size())
        defaultButton = 0;
    std::fprintf(stderr, "\n+-- %s\n", caption.c_str());
    size_t line = 0;
    while (line <= text.size()) {
        size_t end = text.find('\n', line);
        if (end == std::string::npos)
            end = text.size();
        std::fprintf(stderr, "| %s\n", text.substr(line, end - line).c_str());
        line = end + 1;
    }
    for (;;) {
        std::fprintf(stderr, "+--");
        for (size_t i = 0; i < buttons.size(); i++)
            std::fprintf(stderr, " %s%s", buttons[i].label, i == defaultButton ? "*" : "");
        std::fprintf(stderr, " > ");
        std::fflush(stderr);
        char reply[64];
        if (std::fgets(reply, sizeof(reply), stdin) == nullptr)
            return std::nullopt;
        char letter = (char)std::toupper((unsigned char)reply[0]);
        if (letter == '\n' || letter == 0)
            return buttons[defaultButton].id;
        for (const Button &button : buttons)
            if (button.label[1] == letter)
                return button.id;
    }
}

}  // namespace

namespace hostwin {

void QueueMessageBoxAnswers(const std::vector<int> &answers)
{
    std::lock_guard<std::mutex> lock(mutex);
    queuedAnswers.insert(queuedAnswers.end(), answers.begin(), answers.end());
}

std::vector<MessageBoxRecord> MessageBoxes()
{
    std::lock_guard<std::mutex> lock(mutex);
    return records;
}

}  // namespace hostwin

namespace hostwin::detail {

void RecordMessageBox(const MessageBoxRecord &record)
{
    std::lock_guard<std::mutex> lock(mutex);
    records.push_back(record);
}

std::optional<int> NextMessageBoxAnswer()
{
    std::lock_guard<std::mutex> lock(mutex);
    if (!queuedAnswers.empty()) {
        int answer = queuedAnswers.front();
        queuedAnswers.pop_front();
        return answer;
    }
    ReadEnvironmentAnswers();
    if (!environmentAnswers.empty()) {
        int answer = environmentAnswers.front();
        environmentAnswers.pop_front();
        return answer;
    }
    return std::nullopt;
}

void ResetUser32()
{
    std::lock_guard<std::mutex> lock(mutex);
    records.clear();
    queuedAnswers.clear();
    environmentRead = false;
    environmentAnswers.clear();
}

}  // namespace hostwin::detail

extern "C" {

int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type)
{
    std::string shownText = text != nullptr ? text : "";
    std::string shownCaption = caption != nullptr ? caption : "Error";
    char style[16];
    std::snprintf(style, sizeof(style), "0x%08X", type);
    auto journal = [&](int answer) {
        detail::Journal("MessageBoxA\t" + detail::JournalPointer(owner) + "\t" + detail::JournalField(shownText) +
                        "\t" + detail::JournalField(shownCaption) + "\t" + style + "\t=> " +
                        std::to_string(answer));
        return answer;
    };

    if (auto fault = detail::Enter("MessageBoxA")) {
        SetLastError(fault->error != 0 ? fault->error : ERROR_NOT_ENOUGH_MEMORY);
        return journal(fault->result ? (int)*fault->result : 0);
    }
    std::vector<Button> buttons = ButtonsOf(type);
    if (buttons.empty()) {
        SetLastError(ERROR_INVALID_MSGBOX_STYLE);
        return journal(0);
    }

    int answer = DismissalAnswer(type);
    if (auto given = detail::NextMessageBoxAnswer()) {
        if (Offers(buttons, *given))
            answer = *given;
    } else if (isatty(STDIN_FILENO) && isatty(STDERR_FILENO)) {
        if (auto chosen = AskAtTerminal(shownText, shownCaption, type, buttons))
            answer = *chosen;
    }
    detail::RecordMessageBox({(uintptr_t)owner, shownText, shownCaption, type, answer});
    return journal(answer);
}

}  // extern "C"
