#include "frontends/terminal/terminal_window.h"

#include <cctype>
#include <istream>
#include <ostream>

#include "frontends/terminal/translation.h"

namespace {

const char* IconMark(uint32_t style) {
    switch (style & platform::kMbIconMask) {
        case platform::kMbIconHand:
            return "[×] ";
        case platform::kMbIconQuestion:
            return "[?] ";
        case platform::kMbIconExclamation:
            return "[!] ";
        case platform::kMbIconAsterisk:
            return "[i] ";
        default:
            return "";
    }
}

// The access letter of an answer, as its button shows it.
char AnswerLetter(int answer) {
    switch (answer) {
        case platform::kIdOk:
            return 'O';
        case platform::kIdCancel:
            return 'C';
        case platform::kIdAbort:
            return 'A';
        case platform::kIdRetry:
            return 'R';
        case platform::kIdIgnore:
            return 'I';
        case platform::kIdYes:
            return 'Y';
        case platform::kIdNo:
            return 'N';
        default:
            return 0;
    }
}

std::string Trimmed(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t' || s[b] == '\r')) ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r')) --e;
    return s.substr(b, e - b);
}

}  // namespace

TerminalWindow::TerminalWindow(std::istream& in, std::ostream& out, TerminalOptions options)
    : m_in(in), m_out(out), m_options(options) {}

std::string TerminalWindow::AnswerLabel(int answer) {
    switch (answer) {
        case platform::kIdOk:
            return "OK";
        case platform::kIdCancel:
            return "キャンセル";
        case platform::kIdAbort:
            return "中止(A)";
        case platform::kIdRetry:
            return "再試行(R)";
        case platform::kIdIgnore:
            return "無視(I)";
        case platform::kIdYes:
            return "はい(Y)";
        case platform::kIdNo:
            return "いいえ(N)";
        default:
            return "?";
    }
}

void TerminalWindow::Create(const platform::DialogTemplate& tmpl) { m_template = tmpl; }

platform::DialogControl* TerminalWindow::Find(int id) {
    for (platform::DialogControl& c : m_template.controls)
        if (c.id == id) return &c;
    return nullptr;
}

void TerminalWindow::SetItemText(int id, const std::string& text) {
    platform::DialogControl* c = Find(id);
    if (c == nullptr || c->text == text) return;
    c->text = text;
    // While the dialog is on screen, a new text in the message area shows.
    if (m_visible && c->kind == platform::ControlKind::kStatic && c->visible)
        m_out << "\n" << text << "\n" << std::flush;
}

void TerminalWindow::ShowItem(int id, bool show) {
    if (platform::DialogControl* c = Find(id)) c->visible = show;
}

std::vector<const platform::DialogControl*> TerminalWindow::VisibleButtons() const {
    std::vector<const platform::DialogControl*> buttons;
    for (const platform::DialogControl& c : m_template.controls)
        if (c.visible && c.kind != platform::ControlKind::kStatic) buttons.push_back(&c);
    return buttons;
}

void TerminalWindow::PrintDialog() {
    m_out << "\n=== " << m_template.caption << " ===\n";
    for (const platform::DialogControl& c : m_template.controls)
        if (c.visible && c.kind == platform::ControlKind::kStatic && !c.text.empty())
            m_out << c.text << "\n";
    std::string choice;
    const std::vector<const platform::DialogControl*> buttons = VisibleButtons();
    for (size_t k = 0; k < buttons.size(); ++k)
        choice += (k ? "  [" : "[") + std::to_string(k + 1) + "] " + buttons[k]->text;
    m_out << "\n" << choice << "\n" << std::flush;
}

void TerminalWindow::Show(int) {
    m_visible = true;
    PrintDialog();
}

bool TerminalWindow::ReadLine(std::string* line) {
    if (!std::getline(m_in, *line)) return false;
    return true;
}

bool TerminalWindow::NextMessage(platform::DialogMessage* msg) {
    if (StopWaiting()) {
        m_out << "> (signal)\n" << std::flush;
        *msg = platform::CloseMessage();
        return true;
    }
    if (m_options.pressFirst != 0 && !m_firstPressed) {
        m_firstPressed = true;
        if (const platform::DialogControl* c = Find(m_options.pressFirst)) {
            m_out << "> " << c->text << "\n" << std::flush;
            *msg = platform::CommandMessage(c->id);
            return true;
        }
    }
    const std::vector<const platform::DialogControl*> buttons = VisibleButtons();
    if (!m_options.interactive) {
        // Nobody to ask: the default button (Exit) is the safe choice.
        for (const platform::DialogControl* b : buttons)
            if (b->kind == platform::ControlKind::kDefaultPushButton) {
                m_out << "> " << b->text << " " << _("(no terminal)") << "\n" << std::flush;
                *msg = platform::CommandMessage(b->id);
                return true;
            }
        *msg = platform::CloseMessage();
        return true;
    }
    for (;;) {
        m_out << "> " << std::flush;
        std::string line;
        if (!ReadLine(&line)) {
            m_out << "\n";
            return false;  // the end of input (or a signal) closes the dialog
        }
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.find('\x1b') != std::string::npos) {
            *msg = platform::KeyDownMessage(platform::kVkEscape);
            return true;
        }
        if (line == " ") {
            *msg = platform::KeyDownMessage(platform::kVkSpace);
            return true;
        }
        const std::string answer = Trimmed(line);
        if (answer.empty()) {
            *msg = platform::KeyDownMessage(platform::kVkReturn);
            return true;
        }
        for (size_t k = 0; k < buttons.size(); ++k)
            if (answer == std::to_string(k + 1) || answer == buttons[k]->text) {
                *msg = platform::CommandMessage(buttons[k]->id);
                return true;
            }
        m_out << Format(_("choose a number from 1 to %zu"), buttons.size()) << "\n";
    }
}

int TerminalWindow::ShowMessageBox(const std::string& text, const std::string& caption,
                                   uint32_t style) {
    const std::vector<int> answers = platform::AnswersOf(style);
    if (m_beforeBox) m_beforeBox(m_out, text);
    m_out << "\n--- " << caption << " ---\n" << IconMark(style) << text << "\n";
    std::string buttons;
    for (size_t k = 0; k < answers.size(); ++k)
        buttons += (k ? "  [" : "[") + std::to_string(k + 1) + "] " + AnswerLabel(answers[k]);
    m_out << buttons << "\n" << std::flush;

    if (StopWaiting()) {
        const int safe = platform::SafeAnswer(style);
        m_out << "> " << AnswerLabel(safe) << " (signal)\n" << std::flush;
        return safe;
    }
    if (m_options.answerYes && (style & platform::kMbTypeMask) == platform::kMbYesNo) {
        m_out << "> " << AnswerLabel(platform::kIdYes) << " (--yes)\n" << std::flush;
        return platform::kIdYes;
    }
    if (!m_options.interactive) {
        const int safe = platform::SafeAnswer(style);
        m_out << "> " << AnswerLabel(safe) << " " << _("(no terminal)") << "\n" << std::flush;
        return safe;
    }
    for (;;) {
        m_out << "> " << std::flush;
        std::string line;
        if (!ReadLine(&line)) {
            const int safe = platform::SafeAnswer(style);
            m_out << "\n> " << AnswerLabel(safe) << " "
                  << (StopWaiting() ? _("(signal)") : _("(end of input)")) << "\n" << std::flush;
            return safe;
        }
        const std::string answer = Trimmed(line);
        // Enter takes a box's only button.
        if (answer.empty() && answers.size() == 1) return answers.front();
        for (size_t k = 0; k < answers.size(); ++k) {
            const char letter = AnswerLetter(answers[k]);
            if (answer == std::to_string(k + 1) || answer == AnswerLabel(answers[k]) ||
                (answer.size() == 1 &&
                 std::toupper(static_cast<unsigned char>(answer[0])) == letter))
                return answers[k];
        }
        m_out << Format(_("choose a number from 1 to %zu"), answers.size()) << "\n";
    }
}

void TerminalWindow::Destroy(int) {
    m_visible = false;
    m_out << std::flush;
}
