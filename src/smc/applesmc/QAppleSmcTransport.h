#pragma once

#include "smc/applesmc/QAppleSmcFileAccess.h"
#include "smc/base/QSmcCallTransport.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// The SMC protocol answered from the applesmc driver's files, so the protocol backend, the key
// layer and the controller above run unchanged on a Mac running Linux, and the key-writing
// tool writes through the same files.
//
// Keys are mapped onto files and their values encoded in the key's own format: "F%uAc",
// "F%uMn", "F%uMx", "F%uTg" (fpe2) from fanN_input/min/max/output, which the driver shows in
// RPM whatever the controller's own type is (fpe2, or flt on T2 machines, whose fanN_manual
// stands for the fan's mode key "F%uMd"), "F%uID" from fanN_label,
// "FS! " from the fanN_manual flags, "FNum" from the fans present, each tempN_label key (sp78)
// from tempN_input, "#KEY" from the number of keys. Writes accept "F%uTg" (fanN_output, RPM in
// decimal) and "FS! " (the fanN_manual flags) and refuse every other key.
//
// An ordinary user cannot move key_at_index, so the key index is made of the mapped keys in
// byte-wise order. Where key_at_index can be written (root), the index is the controller's own.
//
// Every file is opened once by open(); calls re-read them in place. A file that fails (driver
// unloaded, suspend) reads as a failed read and is opened again at most once per
// kReopenIntervalMs.
class QAppleSmcTransport : public QSmcCallTransport
{
public:
    // Milliseconds of a monotonic clock.
    using Clock = std::function<int64_t()>;
    static constexpr int64_t kReopenIntervalMs = 5000;

    // Takes ownership of the file access; an empty clock uses the steady clock.
    explicit QAppleSmcTransport(QAppleSmcFileAccess* pFiles, Clock clock = Clock());
    ~QAppleSmcTransport() override;

    // Opens the driver's files and builds the key index; false when there is no fan and no
    // temperature file.
    bool open() override;
    void close() override;
    int call(uint32_t selector, const SMCKeyData_t& input, SMCKeyData_t& output) override;

    // True when the index is the controller's own (key_at_index could be opened for writing).
    bool usesControllerIndex() const { return m_nIndexFile >= 0; }
    // Values as the controller holds them, through key_at_index, for a dump of the whole
    // table. Only with the controller's index.
    void setControllerValues(bool bOn) { m_bControllerValues = bOn; }
    // Off: open() leaves key_at_index alone, so that nothing but the mapped fan files is ever
    // written (the key-writing tool's writes). On by default.
    void setProbeControllerIndex(bool bOn) { m_bProbeIndex = bOn; }
    // The key-writing tool's writes: open() then maps only what the write of this key needs,
    // so that a set-user-ID process holds no handle it has no use for. "F%uTg": that fan's
    // min, max and output files (the range is checked before a target is written); "FS! ":
    // the manual flags, which also count the fans for "FNum". Implies no key_at_index probe.
    void setWriteScope(const std::string& key) { m_WriteScope = key; }

private:
    enum class Source
    {
        KeyCount,
        FanCount,
        FanSpeed,
        FanId,
        ManualMask,
        Temperature,
    };
    struct File
    {
        std::string name;
        bool bWrite = false; // opened for writing too (the files written, key_at_index)
        int handle = -1;
        int64_t nRetryAtMs = 0;
    };
    struct Key
    {
        std::string key;
        std::string type;
        uint8_t size = 0;
        Source source = Source::KeyCount;
        int nFile = -1;         // the file the value comes from
        bool bWritable = false; // "F%uTg"
    };
    struct ControllerEntry
    {
        std::string key, type;
        uint32_t nSize = 0;
    };

    int addFile(const std::string& name, bool bWrite = false);
    void addKey(const std::string& key, const char* type, uint8_t size, Source source, int nFile);
    void mapFans();
    void mapWriteScope();
    void addFanKey(int fan, const char* suffix, const char* file, bool bWritable = false);
    void mapTemperatures();
    const Key* findKey(const std::string& key) const;

    bool readText(int nFile, std::string& text, size_t nMax = 64);
    bool readNumber(int nFile, long& nValue);
    // Fills bytes, which the caller has zeroed.
    int readValue(const Key& key, uint8_t* bytes);
    int writeValue(const std::string& key, const uint8_t* bytes, uint32_t nSize);
    int writeManualMask(uint8_t nMask);

    uint32_t keyCount();
    bool controllerEntry(uint32_t index, ControllerEntry& entry);
    bool controllerIndexOf(const std::string& key, uint32_t& index);
    int controllerValue(const std::string& key, uint8_t* bytes, uint32_t nSize);

    int keyInfo(const std::string& key, SMCKeyData_t& output);
    int readBytes(const std::string& key, SMCKeyData_t& output);
    int keyAtIndex(uint32_t index, SMCKeyData_t& output);

    std::unique_ptr<QAppleSmcFileAccess> m_pFiles;
    Clock m_Clock;
    std::vector<File> m_Files;
    std::vector<Key> m_Keys;        // sorted byte-wise
    std::vector<int> m_ManualFiles; // per fan, -1 when the fan has none
    int m_nFans = 0;
    struct IndexFiles
    {
        int nCount = -1, nName = -1, nType = -1, nLength = -1, nData = -1;
    };

    int m_nIndexFile = -1; // key_at_index when writable
    IndexFiles m_IndexFiles;
    long m_nSelected = -1; // the index key_at_index was last moved to
    ControllerEntry m_Selected;
    bool m_bControllerValues = false;
    bool m_bProbeIndex = true;
    std::string m_WriteScope;
};
