// CQuillonApp: the application object. It has no window of its own: it
// takes the single-instance guard, runs the main dialog modally and ends
// the process when the dialog closes.
#pragma once

#include <string>

#include "app/quillon_dlg.h"
#include "platform/instance_guard.h"

class IMaintenanceRunObserver;
class IUpdateProgress;

// The name of the single-instance guard.
extern const char kInstanceMutexName[];

class CQuillonApp {
public:
    CQuillonApp() = default;
    virtual ~CQuillonApp() = default;
    CQuillonApp(const CQuillonApp&) = delete;
    CQuillonApp& operator=(const CQuillonApp&) = delete;

    // Instance initialisation: the guard, then the main dialog. Always
    // false: the process ends afterwards instead of entering a loop.
    virtual bool InitInstance();
    // Exit processing; returns the framework's exit code (0).
    virtual int ExitInstance();
    // What the framework does with the application: InitInstance, then,
    // since it returns false, ExitInstance.
    int Run();

    // The application name: the executable's file name without its
    // extension (the caption of the boxes that carry no caption of their
    // own).
    const std::string& AppName();

    // Set by the front end before Run: handed to the dialog.
    IUpdateProgress* m_progress = nullptr;
    IMaintenanceRunObserver* m_runObserver = nullptr;
    const StRestoreRequest* m_restore = nullptr;

    // What happened, for the front end.
    bool m_anotherInstance = false;  // another updater holds the guard
    int m_modalResult = 0;           // the dialog's modal result (-1: no window)
    DialogOutcome m_outcome = DialogOutcome::kNone;
    UpdateReport m_updateReport;  // what the engine reported, if it ran
    // The dialog's last message box (CQuillonDlg::m_shownMessage and the
    // code of a message 118) and the printer's version as identification
    // read it ("" when it did not get that far).
    unsigned m_shownMessage = 0;
    bool m_shownErrorCode = false;
    uint8_t m_shownErrorCategory = 0;
    uint32_t m_shownErrorDetail = 0;
    std::string m_versionBefore;

private:
    std::string m_appName;
};

extern CQuillonApp theApp;
// The single-instance guard; no handle until instance initialisation.
extern platform::InstanceLock g_hInstanceMutex;
