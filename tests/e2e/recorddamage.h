#pragma once

// Asks the probe DLL's DamageRecordFile action to damage a record file in the temporary folder
// ("missing", "truncated", "digest", "cut"; see damageprobe.cpp; any other: none) while the object
// lives.
namespace testsupport {

class RecordDamage {
public:
    RecordDamage(const wchar_t* file, const wchar_t* kind);
    ~RecordDamage();
    RecordDamage(const RecordDamage&) = delete;
    RecordDamage& operator=(const RecordDamage&) = delete;
};

} // namespace testsupport
