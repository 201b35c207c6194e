#include "app/quillon_app.h"

#include "app/string_table.h"
#include "link/trace.h"
#include "platform/dialog.h"
#include "platform/files.h"

const char kInstanceMutexName[] = "Vadrellix";

bool CQuillonApp::InitInstance() {
    unsigned long error = 0;
    const platform::InstanceLock::State state = g_hInstanceMutex.Create(kInstanceMutexName, &error);
    if (state == platform::InstanceLock::State::kAlreadyRunning) {
        // Another updater runs under this logon: bring its dialog forward
        // (it carries the updater's title) and end without showing anything.
        m_anotherInstance = true;
        const std::string title = LoadStringText(kIdsAppTitle);
        if (!title.empty()) platform::ActivateWindowTitled(title);
        if (g_hInstanceMutex.HasHandle()) g_hInstanceMutex.Release();
        return false;
    }
    if (state == platform::InstanceLock::State::kFailed) {
        // No guard to be had: go on as the only instance.
        TraceError(__LINE__, "CQuillonApp::InitInstance", platform::SystemError(error),
                   "CreateMutex(%s)", kInstanceMutexName);
    }

    platform::InitDialogControls();
    CQuillonDlg dlg;
    dlg.m_progress = m_progress;
    dlg.m_runObserver = m_runObserver;
    dlg.m_restore = m_restore;
    m_modalResult = dlg.DoModal();
    m_outcome = dlg.m_outcome;
    m_updateReport = dlg.m_updateReport;
    m_shownMessage = dlg.m_shownMessage;
    m_shownErrorCode = dlg.m_shownErrorCode;
    m_shownErrorCategory = dlg.m_shownErrorCategory;
    m_shownErrorDetail = dlg.m_shownErrorDetail;
    m_versionBefore = dlg.m_strCurrentVersion;
    // From here a new updater may start, while this process still ends.
    if (g_hInstanceMutex.HasHandle()) g_hInstanceMutex.Release();
    return false;
}

int CQuillonApp::ExitInstance() { return 0; }

int CQuillonApp::Run() {
    if (InitInstance()) return 0;  // never: the application has no loop of its own
    return ExitInstance();
}

const std::string& CQuillonApp::AppName() {
    if (m_appName.empty()) {
        std::string path;
        if (platform::ExecutablePath(&path)) {
            const size_t slash = path.find_last_of("/\\");
            std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
            const size_t dot = name.rfind('.');
            if (dot != std::string::npos && dot > 0) name.resize(dot);
            m_appName = name;
        }
    }
    return m_appName;
}
