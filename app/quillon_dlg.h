// CQuillonDlg: the updater's only window and the owner of the workflow.
#pragma once

#include <cstdint>
#include <string>

class IUpdateProgress;

class CQuillonDlg {
public:
    CQuillonDlg();
    virtual ~CQuillonDlg();

    // The update procedure (update/): returns 0 when the firmware was
    // transferred and the printer came back with the new version, 4 on any
    // failure.
    int UpdateFirmware();

    // Where the update reports its progress; null: nowhere.
    IUpdateProgress* m_progress = nullptr;

    std::string m_strNewVersion;      // UTF-8 display texts
    std::string m_strCurrentVersion;
    uint8_t m_newVersion[16] = {};
    uint8_t m_currentVersion[16] = {};
    uint32_t m_modelCount = 0;
    uint32_t m_libraryCount = 0;
    // Update error record: each field written only while still 0.
    uint32_t m_updateErrorDetail = 0;
    uint8_t m_updateErrorCategory = 0;

    void RecordUpdateError(uint8_t category, uint32_t detail) {
        if (m_updateErrorDetail == 0) m_updateErrorDetail = detail;
        if (m_updateErrorCategory == 0) m_updateErrorCategory = category;
    }
};
