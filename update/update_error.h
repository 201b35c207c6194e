// The update error record: the first failure of the update's own file
// operations (the backup file), as category and system error code. Each
// field is written only while it is still 0, so the first failure wins.
// The engine writes it; the dialog owns the two fields and reads them
// after the run.
#pragma once

#include <cstdint>

class UpdateErrorRecord {
public:
    UpdateErrorRecord(uint32_t& detail, uint8_t& category) : m_detail(detail), m_category(category) {}

    void Record(uint8_t category, uint32_t detail) {
        if (m_detail == 0) m_detail = detail;
        if (m_category == 0) m_category = category;
    }
    uint8_t category() const { return m_category; }
    uint32_t detail() const { return m_detail; }

private:
    uint32_t& m_detail;
    uint8_t& m_category;
};

// The two fields and their record in one place, for callers of the engine
// that have no dialog (tools, tests, the benchmark).
struct UpdateErrorFields {
    uint32_t detail = 0;
    uint8_t category = 0;
    UpdateErrorRecord record{detail, category};

    UpdateErrorFields() = default;
    UpdateErrorFields(const UpdateErrorFields&) = delete;
    UpdateErrorFields& operator=(const UpdateErrorFields&) = delete;
};
