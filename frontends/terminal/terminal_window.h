// The main dialog and its message boxes on a terminal.
//
// The dialog shows its caption, its message area and its visible buttons as
// a numbered choice labelled with the buttons' own texts; a message box
// shows its caption, its text and its buttons and reads the answer. Enter
// and Escape are passed to the dialog as keys (they do nothing special
// there); the end of input closes the dialog.
//
// Without a terminal on the input (interactive false) nothing is read: the
// dialog presses its default button (Exit) and a box takes its preset
// answer or else its safe one (Cancel / No / OK).
#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

#include "platform/dialog.h"

struct TerminalOptions {
    bool interactive = false;  // read answers from the input
    int pressFirst = 0;        // press this button first, without waiting (0: none)
    bool answerYes = false;    // answer Yes to a Yes/No question
    // When set and true: nobody is to be asked any more (a signal asked the
    // program to end): the dialog closes, a box takes its safe answer.
    bool (*stopWaiting)() = nullptr;
};

class TerminalWindow : public platform::DialogWindow {
public:
    TerminalWindow(std::istream& in, std::ostream& out, TerminalOptions options);

    void Create(const platform::DialogTemplate& tmpl) override;
    void SetItemText(int id, const std::string& text) override;
    void ShowItem(int id, bool show) override;
    int ShowMessageBox(const std::string& text, const std::string& caption,
                       uint32_t style) override;
    void Show(int focusId) override;
    bool NextMessage(platform::DialogMessage* msg) override;
    void Destroy(int result) override;

    // The label of an answer's button ("はい(Y)", "キャンセル", ...).
    static std::string AnswerLabel(int answer);

    // Called with a box's text before the box shows (guidance that the
    // front end prints beside the system's message).
    using BoxHook = std::function<void(std::ostream& out, const std::string& text)>;
    void SetBeforeBox(BoxHook hook) { m_beforeBox = std::move(hook); }

private:
    platform::DialogControl* Find(int id);
    std::vector<const platform::DialogControl*> VisibleButtons() const;
    void PrintDialog();
    // Reads one line; false at the end of the input.
    bool ReadLine(std::string* line);
    bool StopWaiting() const { return m_options.stopWaiting != nullptr && m_options.stopWaiting(); }

    std::istream& m_in;
    std::ostream& m_out;
    TerminalOptions m_options;
    platform::DialogTemplate m_template;
    bool m_visible = false;
    bool m_firstPressed = false;
    BoxHook m_beforeBox;
};
