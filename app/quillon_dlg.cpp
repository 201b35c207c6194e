// The main dialog: its initialisation, the Firmware Update and Exit
// buttons, the cancel command and the message table.
#include "app/quillon_dlg.h"

#include <cstring>

#include "app/maintenance_run.h"
#include "app/quillon_app.h"
#include "app/string_table.h"
#include "link/link_settings.h"
#include "link/printer_io.h"
#include "platform/dynlib.h"
#include "resources/texts.h"
#include "update/update_error.h"
#include "update/update_firmware.h"

namespace {

// The internal-error codes of the two identification time-outs.
constexpr uint8_t kCodePrinterBusy = 0x22;
constexpr uint8_t kCodeMaintenanceBusy = 0x21;
constexpr uint32_t kDetailTimeout = 0xFFFFFFFE;
// The code shown when identification failed and neither record holds one.
constexpr uint8_t kCodeUnknown = 0xFF;
constexpr uint32_t kDetailUnknown = 0xFFFFFFFF;

}  // namespace

platform::DialogTemplate MainDialogTemplate() {
    platform::DialogTemplate t;
    t.id = kIdTemplateMain;
    t.caption = QUILLON_TEXT_APP_TITLE;
    t.controls = {
        {kIdcUpdate, platform::ControlKind::kPushButton, QUILLON_TEXT_UPDATE_BUTTON, true, true},
        {kIdcMessage, platform::ControlKind::kStatic, "", false, true},
        {kIdcExit, platform::ControlKind::kDefaultPushButton, QUILLON_TEXT_EXIT_BUTTON, true, true},
    };
    return t;
}

CQuillonDlg::CQuillonDlg() : CDialog(MainDialogTemplate()), m_hIcon(kIdIconMain) {}

CQuillonDlg::~CQuillonDlg() = default;

int CQuillonDlg::ShowMessage(unsigned textId, const std::string& text, unsigned captionId,
                             uint32_t style) {
    m_shownMessage = textId;
    m_shownErrorCode = false;
    return ShowMessageBox(text, LoadStringText(captionId), style);
}

void CQuillonDlg::ShowInternalError(uint8_t category, uint32_t detail) {
    ShowMessage(kIdsInternalError,
                FormatStringText(kIdsInternalError, static_cast<unsigned>(category),
                                 static_cast<unsigned>(detail)),
                kIdsCaptionConfirm, platform::kMbIconExclamation);
    m_shownErrorCode = true;
    m_shownErrorCategory = category;
    m_shownErrorDetail = detail;
}

bool CQuillonDlg::InternalErrorCode(uint8_t* category, uint32_t* detail) const {
    if (g_printerIO.m_errorCategory != 0) {
        *category = g_printerIO.m_errorCategory;
        *detail = g_printerIO.m_errorDetail;
        return true;
    }
    if (m_updateErrorCategory != 0) {
        *category = m_updateErrorCategory;
        *detail = m_updateErrorDetail;
        return true;
    }
    return false;
}

bool CQuillonDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    SetIcon(m_hIcon, true);
    SetIcon(m_hIcon, false);

    std::memset(&g_selectedPrinter, 0, sizeof g_selectedPrinter);
    g_activeLibrary = -1;
    for (ModelEntry& m : m_models) m = ModelEntry{};
    ReadModels();
    LoadAccessLibraries();

    // Every failure ends the dialog before it is shown; none of these
    // paths closes the link (the link object does at process end).
    const int result = IdentifyPrinter();
    switch (result) {
        case 0:
            break;
        case 7:
            m_outcome = DialogOutcome::kConnectionCancelled;
            EndDialog(platform::kIdCancel);
            break;
        case 8:
            ShowInternalError(kCodePrinterBusy, kDetailTimeout);
            m_outcome = DialogOutcome::kIdentificationFailed;
            EndDialog(platform::kIdCancel);
            break;
        case 9:
            ShowInternalError(kCodeMaintenanceBusy, kDetailTimeout);
            m_outcome = DialogOutcome::kIdentificationFailed;
            EndDialog(platform::kIdCancel);
            break;
        default: {
            uint8_t category = kCodeUnknown;
            uint32_t detail = kDetailUnknown;
            InternalErrorCode(&category, &detail);
            ShowInternalError(category, detail);
            m_outcome = DialogOutcome::kIdentificationFailed;
            EndDialog(platform::kIdCancel);
            break;
        }
    }
    return true;
}

bool CQuillonDlg::PreTranslateMessage(const platform::DialogMessage& msg) {
    // Enter and Escape skip the dialog's own keyboard handling: Enter does
    // not press "終了" and Escape does not raise the cancel command; the key
    // goes to the focused control as an ordinary key.
    if (msg.message == platform::kWmKeyDown &&
        (msg.wParam == platform::kVkReturn || msg.wParam == platform::kVkEscape))
        return false;
    return CDialog::PreTranslateMessage(msg);
}

bool CQuillonDlg::OnCommand(int id) {
    if (id == kIdcUpdate) {
        OnFirmwareUpdate();
        return true;
    }
    return CDialog::OnCommand(id);
}

bool IsOlderVersion(const uint8_t current[16], const uint8_t update[16]) {
    return std::memcmp(current, update, 12) < 0;
}

void CQuillonDlg::OnFirmwareUpdate() {
    // From here the dialog never returns to waiting: it always ends.
    ShowItem(kIdcUpdate, false);
    ShowItem(kIdcExit, false);
    SetDlgItemText(kIdcMessage, LoadStringText(kIdsUpdating));

    // A restore writes the printer's own data back and leaves its firmware
    // alone: there is no version to compare.
    if (m_restore == nullptr && !IsOlderVersion(m_currentVersion, m_newVersion)) {
        const int answer =
            ShowMessage(kIdsConfirmOlder,
                        FormatStringText(kIdsConfirmOlder, m_strCurrentVersion.c_str(),
                                         m_strNewVersion.c_str()),
                        kIdsCaptionConfirm, platform::kMbYesNo | platform::kMbIconExclamation);
        if (answer != platform::kIdYes) {
            ShowMessage(kIdsUpdateAborted, LoadStringText(kIdsUpdateAborted), kIdsCaptionConfirm,
                        platform::kMbOk);
            m_outcome = DialogOutcome::kDeclined;
            EndDialog(platform::kIdOk);
            return;
        }
    }

    const int result = UpdateFirmware();
    uint8_t category = 0;
    uint32_t detail = 0;
    if (result == 0 && m_restore != nullptr) {
        // The front end says what was restored; message 117 speaks of a
        // firmware update, which a restore is not.
        m_outcome = DialogOutcome::kRestored;
    } else if (result == 0) {
        ShowMessage(kIdsUpdateDone, LoadStringText(kIdsUpdateDone), kIdsAppTitle,
                    platform::kMbOk);
        m_outcome = DialogOutcome::kUpdated;
    } else if (m_restore != nullptr && m_updateReport.refusal != RestoreRefusal::kNone) {
        // Nothing was written; the front end says why.
        m_outcome = DialogOutcome::kRestoreRefused;
    } else if (InternalErrorCode(&category, &detail)) {
        ShowInternalError(category, detail);
        m_outcome = DialogOutcome::kUpdateFailed;
    } else {
        ShowMessage(kIdsUpdateFailed, LoadStringText(kIdsUpdateFailed), kIdsCaptionError,
                    platform::kMbIconHand);
        m_outcome = DialogOutcome::kUpdateFailed;
    }
    ShowArchivedStCopies(result);
    // The update closed the link itself; the libraries stay loaded until
    // the process ends.
    EndDialog(platform::kIdOk);
}

void CQuillonDlg::ShowArchivedStCopies(int result) {
    // Once the ST area may have been opened for writing, a failed run may
    // have cost the printer its own data: the archived copy is what is left
    // of it, and whoever restarts the printer must know where it is.
    if (result == 0 || !m_updateReport.stWriteBegun || m_updateReport.archived.empty()) return;
    std::string paths;
    for (const std::string& p : m_updateReport.archived) paths += (paths.empty() ? "" : "\n") + p;
    ShowMessageBox(FormatStringText(kIdsStArchived, paths.c_str()),
                   LoadStringText(kIdsCaptionConfirm), platform::kMbIconExclamation);
}

namespace {

// Tells the observer when the run begins and, on every way out, that it
// has ended.
class RunScope {
public:
    explicit RunScope(IMaintenanceRunObserver* observer) : m_observer(observer) {
        if (m_observer != nullptr) m_observer->OnRunBegins();
    }
    ~RunScope() {
        if (m_observer != nullptr) m_observer->OnRunEnds();
    }
    RunScope(const RunScope&) = delete;
    RunScope& operator=(const RunScope&) = delete;

private:
    IMaintenanceRunObserver* m_observer;
};

}  // namespace

int CQuillonDlg::UpdateFirmware() {
    // The update takes minutes: the window stays responsive meanwhile (and
    // takes no input) where its platform needs that.
    UpdateErrorRecord errors(m_updateErrorDetail, m_updateErrorCategory);
    UpdateOptions options;
    options.restore = m_restore;
    RunScope run(m_runObserver);
    return RunLongWork([this, &errors, &options] {
        return RunFirmwareUpdate(errors, m_progress, options, &m_updateReport);
    });
}

void CQuillonDlg::OnOK() {
    // Identification has already started a maintenance run in the printer:
    // the message asks the user to restart it.
    ShowMessage(kIdsUpdateAborted, LoadStringText(kIdsUpdateAborted), kIdsCaptionConfirm,
                platform::kMbOk);
    ReleaseLinkAndLibraries();
    m_outcome = DialogOutcome::kExited;
    CDialog::OnOK();
}

void CQuillonDlg::OnCancel() {
    ReleaseLinkAndLibraries();
    m_outcome = DialogOutcome::kClosed;
    CDialog::OnCancel();
}

void CQuillonDlg::ReleaseLinkAndLibraries() {
    CloseLink();
    for (uint32_t i = 0; i < m_libraryCount && i < static_cast<uint32_t>(kMaxLibraries); ++i) {
        LibraryEntry& entry = g_libraries[i];
        if (entry.module != nullptr) {
            platform::FreeDynamicLibrary(entry.module);
            entry.module = nullptr;
            entry.printerCount = 0;
        }
    }
}
