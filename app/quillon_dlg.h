// CQuillonDlg: the updater's only window and the owner of the workflow.
//
// Its initialisation reads the configuration, loads the printer access
// libraries and identifies the printer; it then shows the pending update
// and waits. "ファームウェアアップデート" (control 1013) runs the update, "終了"
// (IDOK) ends the dialog without one. Every path ends the dialog with one
// message at most.
#pragma once

#include <cstdint>
#include <string>

#include "platform/dialog.h"
#include "update/update_error.h"
#include "update/update_firmware.h"

class IMaintenanceRunObserver;
class IUpdateProgress;

// The dialog template and its controls.
constexpr int kIdTemplateMain = 134;
constexpr int kIdIconMain = 128;
constexpr int kIdcUpdate = 1013;           // "ファームウェアアップデート" button
constexpr int kIdcMessage = 100;           // the message area (static text)
constexpr int kIdcExit = platform::kIdOk;  // "終了", the default button

constexpr int kMaxModels = 20;
constexpr int kModelNameUnits = 260;

// One model of the configuration file.
struct ModelEntry {
    std::string name;  // UTF-8, at most 255 UTF-16 units
    uint16_t vendorId;
    uint16_t productId;
};

// The version field of the firmware that the update installs: "1.3" and
// thirteen blanks, no terminator.
extern const uint8_t kNewVersion[16];

// How the dialog ended, for the front end.
enum class DialogOutcome {
    kNone,                  // still running, or ended by nothing below
    kUpdated,               // message 117
    kUpdateFailed,          // message 118 or 116 after the update ran
    kDeclined,              // confirmation answered No: message 114
    kExited,                // the Exit button: message 114
    kIdentificationFailed,  // message 118 before the dialog was shown
    kConnectionCancelled,   // Cancel in the connection box (result 7)
    kClosed,                // the cancel command (window closed)
    kRestored,              // an ST copy was written back (no message of its own)
    kRestoreRefused,        // the ST copy was refused before anything was written
};

class CQuillonDlg : public platform::CDialog {
public:
    CQuillonDlg();
    ~CQuillonDlg() override;

    // The framework's side.
    bool OnInitDialog() override;
    bool PreTranslateMessage(const platform::DialogMessage& msg) override;
    bool OnCommand(int id) override;
    void OnOK() override;      // the Exit button
    void OnCancel() override;  // the cancel command

    // The Firmware Update button.
    void OnFirmwareUpdate();
    // Closes the link by the configured kind and frees the access
    // libraries that the configuration loaded.
    void ReleaseLinkAndLibraries();

    // Configuration (Vadrellix.ini beside the executable).
    void ReadModels();
    void LoadAccessLibraries();

    // Identification: 0 identified, 3 NAK, 4 failure, 7 cancelled by the
    // user, 8 printer busy for 60 s, 9 maintenance status busy for 10 s.
    int IdentifyPrinter();

    // The update procedure: runs the engine (update/update_firmware.h) with
    // this dialog's update error record and progress interface. 0 when the
    // firmware was transferred and the printer came back with the new
    // version, 4 on any failure.
    int UpdateFirmware();

    // The internal-error code of message 118: the link's error record
    // first, then the update error record; false when both are empty.
    bool InternalErrorCode(uint8_t* category, uint32_t* detail) const;

    // Where the update reports its progress; null: nowhere.
    IUpdateProgress* m_progress = nullptr;
    // Told when the engine starts and when it has returned; may be null.
    IMaintenanceRunObserver* m_runObserver = nullptr;
    // Set: the Firmware Update button writes this ST copy back instead of
    // the firmware (a service restore; no version question).
    const StRestoreRequest* m_restore = nullptr;
    // What the last run of the engine reported.
    UpdateReport m_updateReport;

    int m_hIcon = 0;              // icon resource of the window
    std::string m_strNewVersion;  // UTF-8 display texts
    std::string m_strCurrentVersion;
    uint8_t m_newVersion[16] = {};
    uint8_t m_currentVersion[16] = {};
    ModelEntry m_models[kMaxModels] = {};
    uint32_t m_modelCount = 0;
    uint32_t m_libraryCount = 0;
    // Update error record: each field written only while still 0.
    uint32_t m_updateErrorDetail = 0;
    uint8_t m_updateErrorCategory = 0;

    // How the dialog ended.
    DialogOutcome m_outcome = DialogOutcome::kNone;
    // The last message box shown: its text's string id (0: none yet) and,
    // when it was message 118, the internal-error code it showed.
    unsigned m_shownMessage = 0;
    bool m_shownErrorCode = false;
    uint8_t m_shownErrorCategory = 0;
    uint32_t m_shownErrorDetail = 0;

    void RecordUpdateError(uint8_t category, uint32_t detail) {
        UpdateErrorRecord(m_updateErrorDetail, m_updateErrorCategory).Record(category, detail);
    }

private:
    // Shows the text of string textId (already formatted) as a box.
    int ShowMessage(unsigned textId, const std::string& text, unsigned captionId, uint32_t style);
    // After a failed run that may have changed the printer's ST area: a
    // second box with the paths of the archived ST copies. It follows the
    // outcome's message and does not replace it as the one shown.
    void ShowArchivedStCopies(int result);
    void ShowInternalError(uint8_t category, uint32_t detail);
};

// The template of the main dialog: caption and controls in tab order.
platform::DialogTemplate MainDialogTemplate();

// The file name of the configuration, beside the executable.
extern const char kConfigFileName[];
// The full path of the configuration file; false when the executable's
// path cannot be had, has no directory part, or is too long for the file
// name to fit a 260-unit path (then nothing is read).
bool ConfigurationPath(std::string* path);

// Where the executable's path comes from (tests point it elsewhere);
// nullptr restores platform::ExecutablePath.
using ExecutablePathSource = bool (*)(std::string* path);
void SetExecutablePathSource(ExecutablePathSource source);

// The display text of a version field: up to its first blank or zero byte,
// at most 16 bytes, as valid UTF-8.
std::string VersionDisplayText(const uint8_t field[16]);
// True when the printer's version counts as older than the update's: the
// first 12 bytes compared as unsigned bytes.
bool IsOlderVersion(const uint8_t current[16], const uint8_t update[16]);
