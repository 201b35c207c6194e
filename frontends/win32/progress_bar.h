// The update's progress in the dialog: a progress bar where the hidden
// buttons stood.
//
// The engine reports progress on the thread that runs the update; that
// thread never touches a window: DialogProgress only posts messages to the
// dialog, and ProgressBarControl, on the dialog's own thread, creates and
// moves the bar. While the sections are written the bar shows the blocks
// sent; while the updater prepares, reads the printer's ST area back or
// waits for the printer's restart it shows a marquee, since nothing can be
// counted then.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>

#include "update/progress.h"

// Messages of the progress to the dialog window.
constexpr UINT kWmProgressPhase = WM_APP + 1;  // wParam: UpdatePhase
constexpr UINT kWmProgressPlan = WM_APP + 2;   // wParam: blocks in all
constexpr UINT kWmProgressBlock = WM_APP + 3;  // wParam: blocks sent so far

class DialogProgress : public IUpdateProgress {
public:
    // The window that shows the bar; nullptr: nowhere.
    void Attach(HWND dialog) { m_dialog.store(dialog); }

    void OnPhase(UpdatePhase phase) override;
    void OnTransferPlan(uint32_t sections, uint32_t blocks, uint64_t bytes) override;
    void OnSection(const char tag[2], uint32_t section, uint32_t blocks) override;
    void OnBlock(uint32_t block, uint32_t blocks, uint64_t bytes) override;

private:
    void Post(UINT message, WPARAM wParam);

    std::atomic<HWND> m_dialog{nullptr};
    uint32_t m_blocksSent = 0;  // touched by the reporting thread only
};

class ProgressBarControl {
public:
    // Handles a progress message sent to dialog; false for other messages.
    bool Handle(HWND dialog, UINT message, WPARAM wParam);
    // Forgets the control (its window goes with the dialog's).
    void Reset();

    HWND control() const { return m_control; }
    bool marquee() const { return m_marquee; }
    uint32_t total() const { return m_total; }
    uint32_t position() const { return m_position; }

private:
    void Ensure(HWND dialog);
    void SetMarquee(bool on);

    HWND m_control = nullptr;
    bool m_marquee = false;
    uint32_t m_total = 0;     // blocks in all
    uint32_t m_position = 0;  // blocks sent
};
