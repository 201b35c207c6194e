// The portable part of the dialog framework: the modal loop, the controls'
// state, focus and the default keyboard handling.
#include "platform/dialog.h"

#include <utility>

namespace platform {

namespace {

DialogWindowFactory& Factory() {
    static DialogWindowFactory factory;
    return factory;
}

bool IsButton(const DialogControl& c) {
    return c.kind == ControlKind::kPushButton || c.kind == ControlKind::kDefaultPushButton;
}

}  // namespace

std::vector<int> AnswersOf(uint32_t style) {
    switch (style & kMbTypeMask) {
        case kMbOk:
            return {kIdOk};
        case kMbOkCancel:
            return {kIdOk, kIdCancel};
        case kMbAbortRetryIgnore:
            return {kIdAbort, kIdRetry, kIdIgnore};
        case kMbYesNoCancel:
            return {kIdYes, kIdNo, kIdCancel};
        case kMbYesNo:
            return {kIdYes, kIdNo};
        case kMbRetryCancel:
            return {kIdRetry, kIdCancel};
        default:
            return {kIdOk};
    }
}

int SafeAnswer(uint32_t style) {
    const std::vector<int> answers = AnswersOf(style);
    for (int wanted : {kIdCancel, kIdNo, kIdOk})
        for (int a : answers)
            if (a == wanted) return a;
    return answers.front();
}

void SetDialogWindowFactory(DialogWindowFactory factory) { Factory() = std::move(factory); }

CDialog::CDialog(DialogTemplate tmpl) : m_template(std::move(tmpl)) {}

CDialog::~CDialog() = default;

int CDialog::DoModal() {
    if (!Factory()) return -1;
    std::unique_ptr<DialogWindow> window = Factory()(m_template);
    if (!window) return -1;
    return DoModal(*window);
}

int CDialog::DoModal(DialogWindow& window) {
    m_window = &window;
    m_ended = false;
    m_result = 0;
    m_focusId = 0;
    window.Create(m_template);
    const bool setFocus = OnInitDialog();
    if (!m_ended) {
        if (setFocus) FocusFirstTabStop();
        window.Show(m_focusId);
        DialogMessage msg;
        while (!m_ended) {
            if (!window.NextMessage(&msg)) msg = CloseMessage();
            if (PreTranslateMessage(msg)) continue;
            Dispatch(msg);
        }
    }
    window.Destroy(m_result);
    m_window = nullptr;
    return m_result;
}

bool CDialog::OnInitDialog() { return true; }

bool CDialog::PreTranslateMessage(const DialogMessage& msg) {
    if (msg.message != kWmKeyDown) return false;
    if (m_window != nullptr && m_window->OwnsKeyboard()) return m_window->PreTranslateKey(msg);
    switch (msg.wParam) {
        case kVkReturn:
            for (const DialogControl& c : m_template.controls)
                if (c.kind == ControlKind::kDefaultPushButton && c.visible) {
                    OnCommand(c.id);
                    break;
                }
            return true;
        case kVkEscape:
            OnCommand(kIdCancel);
            return true;
        case kVkTab:
            FocusNextTabStop();
            return true;
        default:
            return false;
    }
}

bool CDialog::OnCommand(int id) {
    switch (id) {
        case kIdOk:
            OnOK();
            return true;
        case kIdCancel:
            OnCancel();
            return true;
        default:
            return false;
    }
}

void CDialog::OnOK() { EndDialog(kIdOk); }
void CDialog::OnCancel() { EndDialog(kIdCancel); }

void CDialog::EndDialog(int result) {
    m_ended = true;
    m_result = result;
}

void CDialog::SetDlgItemText(int id, const std::string& text) {
    if (DialogControl* c = Find(id)) c->text = text;
    if (m_window) m_window->SetItemText(id, text);
}

std::string CDialog::GetDlgItemText(int id) const {
    const DialogControl* c = Find(id);
    return c ? c->text : std::string();
}

void CDialog::ShowItem(int id, bool show) {
    if (DialogControl* c = Find(id)) c->visible = show;
    if (m_window) m_window->ShowItem(id, show);
}

bool CDialog::IsItemVisible(int id) const {
    const DialogControl* c = Find(id);
    return c != nullptr && c->visible;
}

void CDialog::SetIcon(int resourceId, bool big) {
    if (m_window) m_window->SetIcon(resourceId, big);
}

int CDialog::ShowMessageBox(const std::string& text, const std::string& caption, uint32_t style) {
    if (!m_window) return SafeAnswer(style);
    return m_window->ShowMessageBox(text, caption, style);
}

int CDialog::RunLongWork(const std::function<int()>& work) {
    if (!m_window) return work();
    return m_window->RunLongWork(work);
}

DialogControl* CDialog::Find(int id) {
    for (DialogControl& c : m_template.controls)
        if (c.id == id) return &c;
    return nullptr;
}

const DialogControl* CDialog::Find(int id) const {
    for (const DialogControl& c : m_template.controls)
        if (c.id == id) return &c;
    return nullptr;
}

void CDialog::FocusFirstTabStop() {
    m_focusId = 0;
    for (const DialogControl& c : m_template.controls)
        if (c.tabStop && c.visible) {
            m_focusId = c.id;
            return;
        }
}

void CDialog::FocusNextTabStop() {
    const auto& controls = m_template.controls;
    size_t start = 0;
    for (size_t k = 0; k < controls.size(); ++k)
        if (controls[k].id == m_focusId) start = k + 1;
    for (size_t n = 0; n < controls.size(); ++n) {
        const DialogControl& c = controls[(start + n) % controls.size()];
        if (c.tabStop && c.visible) {
            m_focusId = c.id;
            return;
        }
    }
}

void CDialog::Dispatch(const DialogMessage& msg) {
    switch (msg.message) {
        case kWmCommand:
            OnCommand(static_cast<int>(msg.wParam & 0xFFFF));
            break;
        case kWmClose:
            OnCommand(kIdCancel);
            break;
        case kWmKeyDown: {
            if (m_window != nullptr && m_window->OwnsKeyboard()) {
                m_window->DispatchKey(msg);
                break;
            }
            // An ordinary key for the focused control: a visible push button
            // is pressed by the space bar and ignores the rest.
            const DialogControl* c = Find(m_focusId);
            if (c != nullptr && c->visible && IsButton(*c) && msg.wParam == kVkSpace)
                OnCommand(c->id);
            break;
        }
        default:
            break;
    }
}

}  // namespace platform
