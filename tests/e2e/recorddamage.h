#pragma once

// Asks the probe DLL's DamageRecordFile action to damage a record file in the temporary folder
// ("missing", "truncated", "digest", "cut"; see damageprobe.cpp) while the object lives.
namespace testsupport {

class RecordDamage {
public:
    RecordDamage(const wchar_t* file, const wchar_t* kind);
    ~RecordDamage();
    RecordDamage(const RecordDamage&) = delete;
    RecordDamage& operator=(const RecordDamage&) = delete;
};

// The damage kinds, each of which leaves a file that its reader treats as lost or cut short.
extern const wchar_t* const kRecordDamageKinds[4];

} // namespace testsupport
