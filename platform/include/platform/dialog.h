// The dialog framework: a modal dialog built on a template, whose window a
// front end supplies.
//
// CDialog holds the dialog's side (the controls of its template, their
// texts and visibility, focus, the modal loop and the modal result) and
// talks to a DialogWindow, the front end's side: a terminal, a Win32
// window, or a test's script. The modal loop takes one message at a time
// from the window, offers it to PreTranslateMessage and, when that does not
// consume it, dispatches it:
//   - WM_COMMAND with a control id: OnCommand(id) (IDOK -> OnOK,
//     IDCANCEL -> OnCancel, anything else to the derived class);
//   - WM_CLOSE (the system closes the window): the IDCANCEL command;
//   - WM_KEYDOWN: the key goes to the focused control as an ordinary key: a
//     push button is pressed by the space bar and ignores every other key.
// The default pre-translation is the dialog's own keyboard handling: Enter
// presses the default push button, Escape raises IDCANCEL, Tab moves the
// focus to the next visible tab stop; each of these is consumed. A window
// with real controls does both key jobs itself instead (see
// DialogWindow::OwnsKeyboard).
//
// Ids, styles, answers and message numbers carry their Win32 values so that
// the Win32 front end can pass them through unchanged.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace platform {

// Modal results and message-box answers.
constexpr int kIdOk = 1;
constexpr int kIdCancel = 2;
constexpr int kIdAbort = 3;
constexpr int kIdRetry = 4;
constexpr int kIdIgnore = 5;
constexpr int kIdYes = 6;
constexpr int kIdNo = 7;

// Message-box styles: one button set ...
constexpr uint32_t kMbOk = 0x00;
constexpr uint32_t kMbOkCancel = 0x01;
constexpr uint32_t kMbAbortRetryIgnore = 0x02;
constexpr uint32_t kMbYesNoCancel = 0x03;
constexpr uint32_t kMbYesNo = 0x04;
constexpr uint32_t kMbRetryCancel = 0x05;
constexpr uint32_t kMbTypeMask = 0x0F;
// ... and one icon.
constexpr uint32_t kMbIconHand = 0x10;
constexpr uint32_t kMbIconQuestion = 0x20;
constexpr uint32_t kMbIconExclamation = 0x30;
constexpr uint32_t kMbIconAsterisk = 0x40;
constexpr uint32_t kMbIconMask = 0xF0;

// The answers a box of this style offers, in the order of its buttons.
std::vector<int> AnswersOf(uint32_t style);
// The answer to take when nobody can be asked: Cancel when the box offers
// it, else No, else OK (else its first button).
int SafeAnswer(uint32_t style);

// Window messages that reach the dialog's loop.
constexpr uint32_t kWmClose = 0x0010;
constexpr uint32_t kWmKeyDown = 0x0100;
constexpr uint32_t kWmCommand = 0x0111;
// Virtual-key codes.
constexpr uint32_t kVkTab = 0x09;
constexpr uint32_t kVkReturn = 0x0D;
constexpr uint32_t kVkEscape = 0x1B;
constexpr uint32_t kVkSpace = 0x20;

struct DialogMessage {
    uint32_t message = 0;
    uintptr_t wParam = 0;  // WM_COMMAND: control id (notification 0, BN_CLICKED); WM_KEYDOWN: key
    intptr_t lParam = 0;
};

inline DialogMessage CommandMessage(int id) {
    return DialogMessage{kWmCommand, static_cast<uintptr_t>(id) & 0xFFFF, 0};
}
inline DialogMessage KeyDownMessage(uint32_t key) { return DialogMessage{kWmKeyDown, key, 0}; }
inline DialogMessage CloseMessage() { return DialogMessage{kWmClose, 0, 0}; }

// One control of a dialog template.
enum class ControlKind { kStatic, kPushButton, kDefaultPushButton };

struct DialogControl {
    int id = 0;
    ControlKind kind = ControlKind::kStatic;
    std::string text;  // UTF-8
    bool tabStop = false;
    bool visible = true;
};

struct DialogTemplate {
    int id = 0;
    std::string caption;                  // UTF-8
    std::vector<DialogControl> controls;  // in tab order
};

// The front end's side of a dialog.
class DialogWindow {
public:
    virtual ~DialogWindow() = default;
    // Called once, before the dialog's initialisation, with its template.
    virtual void Create(const DialogTemplate& tmpl) = 0;
    virtual void SetItemText(int id, const std::string& text) = 0;
    virtual void ShowItem(int id, bool show) = 0;
    virtual void SetIcon(int resourceId, bool big) {}
    // A modal message box; returns the answer (kId...). (Not named
    // MessageBox, which windows.h defines as a macro.)
    virtual int ShowMessageBox(const std::string& text, const std::string& caption,
                               uint32_t style) = 0;
    // The dialog's initialisation is over and it did not end: it becomes
    // visible, with the focus on control focusId (0: none).
    virtual void Show(int focusId) = 0;
    // Waits for the next message; false when none will ever come (the
    // dialog then ends as if the system had closed it).
    virtual bool NextMessage(DialogMessage* msg) = 0;
    // The dialog ended with this modal result; the window goes away.
    virtual void Destroy(int result) = 0;

    // A window with real controls (Win32) handles keys as its platform's
    // dialog manager does. When OwnsKeyboard() is true, the dialog's
    // default pre-translation of a key is PreTranslateKey() (true when it
    // consumed the key: Enter, Escape, Tab, ...), and a key that nobody
    // consumed goes to the focused control through DispatchKey(). By
    // default the dialog does both itself, as described above.
    virtual bool OwnsKeyboard() const { return false; }
    virtual bool PreTranslateKey(const DialogMessage& msg) { return false; }
    virtual void DispatchKey(const DialogMessage& msg) {}

    // Runs work that may take minutes and returns its result. A window that
    // the system judges by whether it keeps answering (Win32) runs the work
    // on another thread meanwhile and goes on painting, takes no input and
    // ignores the close command until it returns. Only one thread runs
    // dialog code at a time either way. By default the work runs here.
    virtual int RunLongWork(const std::function<int()>& work) { return work(); }
};

// Makes the window of a dialog; the front end installs it (nullptr removes
// it).
using DialogWindowFactory = std::function<std::unique_ptr<DialogWindow>(const DialogTemplate&)>;
void SetDialogWindowFactory(DialogWindowFactory factory);

class CDialog {
public:
    explicit CDialog(DialogTemplate tmpl);
    virtual ~CDialog();
    CDialog(const CDialog&) = delete;
    CDialog& operator=(const CDialog&) = delete;

    // Runs the dialog modally in a window from the installed factory, or in
    // the given one. Returns the modal result; -1 when no window could be
    // made (nothing runs then).
    int DoModal();
    int DoModal(DialogWindow& window);

    // Overridables. OnInitDialog returns true to put the focus on the first
    // visible tab stop.
    virtual bool OnInitDialog();
    // True when it has consumed the message.
    virtual bool PreTranslateMessage(const DialogMessage& msg);
    // True when the command was handled.
    virtual bool OnCommand(int id);
    virtual void OnOK();
    virtual void OnCancel();

    void EndDialog(int result);
    bool IsEnded() const { return m_ended; }
    int ModalResult() const { return m_result; }

    // Controls: the dialog keeps their state and passes every change to the
    // window while there is one.
    void SetDlgItemText(int id, const std::string& text);
    std::string GetDlgItemText(int id) const;
    void ShowItem(int id, bool show);
    bool IsItemVisible(int id) const;
    void SetIcon(int resourceId, bool big);
    int FocusId() const { return m_focusId; }

    // A modal message box over the dialog. Without a window nobody can be
    // asked: the box takes its safe answer.
    int ShowMessageBox(const std::string& text, const std::string& caption, uint32_t style);
    // Runs long work through the window (see DialogWindow::RunLongWork);
    // without a window, here.
    int RunLongWork(const std::function<int()>& work);

    const DialogTemplate& Template() const { return m_template; }
    DialogWindow* Window() const { return m_window; }

private:
    DialogControl* Find(int id);
    const DialogControl* Find(int id) const;
    void FocusFirstTabStop();
    void FocusNextTabStop();
    void Dispatch(const DialogMessage& msg);

    DialogTemplate m_template;
    DialogWindow* m_window = nullptr;
    bool m_ended = false;
    int m_result = 0;
    int m_focusId = 0;
};

// Brings the top-level window with this title to the foreground, restoring
// it when it is minimised; when it is hidden behind a box it owns, that box
// comes forward instead. False when there is none (always false where the
// platform has no windows).
bool ActivateWindowTitled(const std::string& title);

// Makes the platform's common controls available to dialogs
// (InitCommonControlsEx with ICC_WIN95_CLASSES on Windows; nothing to do
// elsewhere).
void InitDialogControls();

}  // namespace platform
