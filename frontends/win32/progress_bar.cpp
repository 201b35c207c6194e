#include "frontends/win32/progress_bar.h"

#include <commctrl.h>

namespace {

// The bar's place, in dialog units: across the area where the Firmware
// Update button stood (7, 62; 186 by 30), vertically centred in it.
constexpr RECT kBarUnits{7, 70, 7 + 186, 70 + 14};
// Control id of the bar (not one of the template's).
constexpr int kIdcProgress = 1100;
constexpr UINT kMarqueeStepMs = 30;

}  // namespace

void DialogProgress::Post(UINT message, WPARAM wParam) {
    HWND dialog = m_dialog.load();
    if (dialog != nullptr) ::PostMessageW(dialog, message, wParam, 0);
}

void DialogProgress::OnPhase(UpdatePhase phase) {
    Post(kWmProgressPhase, static_cast<WPARAM>(phase));
}

void DialogProgress::OnTransferPlan(uint32_t, uint32_t blocks, uint64_t) {
    m_blocksSent = 0;
    Post(kWmProgressPlan, blocks);
}

void DialogProgress::OnSection(const char[2], uint32_t, uint32_t) {}

void DialogProgress::OnBlock(uint32_t, uint32_t, uint64_t) {
    Post(kWmProgressBlock, ++m_blocksSent);
}

void ProgressBarControl::Ensure(HWND dialog) {
    if (m_control != nullptr) return;
    RECT r = kBarUnits;
    ::MapDialogRect(dialog, &r);
    m_control = ::CreateWindowExW(
        0, PROGRESS_CLASSW, L"", WS_CHILD | WS_VISIBLE | PBS_SMOOTH, r.left, r.top,
        r.right - r.left, r.bottom - r.top, dialog,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(kIdcProgress)),
        reinterpret_cast<HINSTANCE>(::GetWindowLongPtrW(dialog, GWLP_HINSTANCE)), nullptr);
    m_marquee = false;
    m_total = 0;
    m_position = 0;
}

void ProgressBarControl::SetMarquee(bool on) {
    if (m_control == nullptr || on == m_marquee) return;
    LONG_PTR style = ::GetWindowLongPtrW(m_control, GWL_STYLE);
    if (on) {
        ::SetWindowLongPtrW(m_control, GWL_STYLE, style | PBS_MARQUEE);
        ::SendMessageW(m_control, PBM_SETMARQUEE, TRUE, kMarqueeStepMs);
    } else {
        ::SendMessageW(m_control, PBM_SETMARQUEE, FALSE, 0);
        ::SetWindowLongPtrW(m_control, GWL_STYLE, style & ~static_cast<LONG_PTR>(PBS_MARQUEE));
        // Back to counting: the blocks sent so far, drawn anew.
        ::SendMessageW(m_control, PBM_SETRANGE32, 0, m_total);
        ::SendMessageW(m_control, PBM_SETPOS, m_position, 0);
        ::InvalidateRect(m_control, nullptr, TRUE);
    }
    m_marquee = on;
}

bool ProgressBarControl::Handle(HWND dialog, UINT message, WPARAM wParam) {
    switch (message) {
        case kWmProgressPhase:
            Ensure(dialog);
            switch (static_cast<UpdatePhase>(wParam)) {
                case UpdatePhase::kTransferring:
                case UpdatePhase::kDone:
                    // The bar keeps the blocks actually sent.
                    SetMarquee(false);
                    break;
                default:
                    SetMarquee(true);
                    break;
            }
            return true;
        case kWmProgressPlan:
            Ensure(dialog);
            SetMarquee(false);
            m_total = static_cast<uint32_t>(wParam);
            m_position = 0;
            ::SendMessageW(m_control, PBM_SETRANGE32, 0, m_total);
            ::SendMessageW(m_control, PBM_SETPOS, 0, 0);
            return true;
        case kWmProgressBlock:
            Ensure(dialog);
            m_position = static_cast<uint32_t>(wParam);
            if (!m_marquee) ::SendMessageW(m_control, PBM_SETPOS, m_position, 0);
            return true;
        default:
            return false;
    }
}

void ProgressBarControl::Reset() {
    m_control = nullptr;
    m_marquee = false;
    m_total = 0;
    m_position = 0;
}
