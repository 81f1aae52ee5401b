#include "smc/applesmc/QAppleSmcTransport.h"

#include "smc/applesmc/AppleSmcUnitsUtils.h"
#include "smc/base/SmcCodecUtils.h"

#include <algorithm>
#include <chrono>
#include <cstring>

using namespace AppleSmcUnitsUtils;

namespace {
constexpr uint8_t kFanIdSize = 16;
constexpr int kMaxTemperatureFiles = 256;

int64_t steadyMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::string keyText(uint32_t nPacked)
{
    char key[5];
    SmcCodecUtils::unpackCode(key, nPacked);
    return std::string(key, 4);
}

// The driver shows a key or type code as text; short type codes ("ui8") are blank-padded.
std::string codeFromText(const std::string& text)
{
    std::string code = stripLineEnd(text).substr(0, 4);
    code.resize(4, ' ');
    return code;
}
} // namespace

QAppleSmcTransport::QAppleSmcTransport(QAppleSmcFileAccess* pFiles, Clock clock)
    : m_pFiles(pFiles), m_Clock(clock ? std::move(clock) : Clock(&steadyMs))
{}

QAppleSmcTransport::~QAppleSmcTransport()
{
    close();
}

int QAppleSmcTransport::addFile(const std::string& name, bool bWrite)
{
    File file;
    file.name = name;
    file.bWrite = bWrite;
    file.handle = m_pFiles->openFile(name, bWrite);
    if (file.handle < 0)
        return -1;
    m_Files.push_back(file);
    return static_cast<int>(m_Files.size()) - 1;
}

void QAppleSmcTransport::addKey(const std::string& key, const char* type, uint8_t size,
                                Source source, int nFile)
{
    Key entry;
    entry.key = key;
    entry.type = type;
    entry.size = size;
    entry.source = source;
    entry.nFile = nFile;
    m_Keys.push_back(entry);
}

void QAppleSmcTransport::addFanKey(int fan, const char* suffix, const char* file, bool bWritable)
{
    const int nFile = addFile(fanFile(fan, file), bWritable);
    if (nFile < 0)
        return;
    addKey("F" + std::to_string(fan) + suffix, "fpe2", 2, Source::FanSpeed, nFile);
    m_Keys.back().bWritable = bWritable;
}

void QAppleSmcTransport::mapFans()
{
    for (int fan = 0; fan < kMaxFans; ++fan) {
        const int nInput = addFile(fanFile(fan, "input"));
        if (nInput < 0)
            break;
        addKey("F" + std::to_string(fan) + "Ac", "fpe2", 2, Source::FanSpeed, nInput);
        addFanKey(fan, "Mn", "min");
        addFanKey(fan, "Mx", "max");
        addFanKey(fan, "Tg", "output", true);
        const int nLabel = addFile(fanFile(fan, "label"));
        if (nLabel >= 0)
            addKey("F" + std::to_string(fan) + "ID", "{fds", kFanIdSize, Source::FanId, nLabel);
        m_ManualFiles.push_back(addFile(fanFile(fan, "manual"), true));
        ++m_nFans;
    }
    if (m_nFans > 0)
        addKey("FNum", "ui8 ", 1, Source::FanCount, -1);
    if (std::any_of(m_ManualFiles.begin(), m_ManualFiles.end(), [](int n) { return n >= 0; }))
        addKey("FS! ", "ui16", 2, Source::ManualMask, -1);
}

// The fans are counted by their manual flags here: the driver gives every fan one.
void QAppleSmcTransport::mapWriteScope()
{
    if (m_WriteScope == "FS! ") {
        for (int fan = 0; fan < kMaxFans; ++fan) {
            const int nManual = addFile(fanFile(fan, "manual"), true);
            if (nManual < 0)
                break;
            m_ManualFiles.push_back(nManual);
            ++m_nFans;
        }
        if (m_nFans > 0) {
            addKey("FNum", "ui8 ", 1, Source::FanCount, -1);
            addKey("FS! ", "ui16", 2, Source::ManualMask, -1);
        }
        return;
    }
    const int fan = m_WriteScope.size() == 4 ? m_WriteScope[1] - '0' : -1;
    if (m_WriteScope[0] != 'F' || fan < 0 || fan >= kMaxFans || m_WriteScope.substr(2) != "Tg")
        return;
    addFanKey(fan, "Mn", "min");
    addFanKey(fan, "Mx", "max");
    addFanKey(fan, "Tg", "output", true);
}

// tempN_label names the key of tempN_input; labels that are no key are left out.
void QAppleSmcTransport::mapTemperatures()
{
    for (int number = 1; number <= kMaxTemperatureFiles; ++number) {
        const int nInput = addFile(tempFile(number, "input"));
        if (nInput < 0)
            break;
        const int nLabel = addFile(tempFile(number, "label"));
        std::string label;
        if (nLabel >= 0 && readText(nLabel, label))
            label = stripLineEnd(label);
        if (SmcCodecUtils::isValidKey(label) && !findKey(label))
            addKey(label, "sp78", 2, Source::Temperature, nInput);
    }
}

bool QAppleSmcTransport::open()
{
    close();
    if (!m_WriteScope.empty()) {
        mapWriteScope();
        return !m_Keys.empty();
    }
    mapFans();
    mapTemperatures();
    addKey("#KEY", "ui32", 4, Source::KeyCount, -1);
    std::sort(m_Keys.begin(), m_Keys.end(),
              [](const Key& a, const Key& b) { return a.key < b.key; });

    // Moving key_at_index needs root; an ordinary user keeps the mapped index.
    const int nIndex = m_bProbeIndex ? addFile("key_at_index", true) : -1;
    if (nIndex >= 0 && m_pFiles->writeFile(m_Files[nIndex].handle, "0")) {
        m_IndexFiles.nCount = addFile("key_count");
        m_IndexFiles.nName = addFile("key_at_index_name");
        m_IndexFiles.nType = addFile("key_at_index_type");
        m_IndexFiles.nLength = addFile("key_at_index_data_length");
        m_IndexFiles.nData = addFile("key_at_index_data");
        m_nIndexFile = nIndex;
    }
    return m_nFans > 0 || m_Keys.size() > 1;
}

void QAppleSmcTransport::close()
{
    for (File& file : m_Files)
        m_pFiles->closeFile(file.handle);
    m_Files.clear();
    m_Keys.clear();
    m_ManualFiles.clear();
    m_nFans = 0;
    m_nIndexFile = -1;
    m_IndexFiles = IndexFiles();
    m_nSelected = -1;
}

const QAppleSmcTransport::Key* QAppleSmcTransport::findKey(const std::string& key) const
{
    for (const Key& entry : m_Keys) {
        if (entry.key == key)
            return &entry;
    }
    return nullptr;
}

bool QAppleSmcTransport::readText(int nFile, std::string& text, size_t nMax)
{
    if (nFile < 0)
        return false;
    File& file = m_Files[nFile];
    const int64_t nNow = m_Clock();
    if (file.handle < 0) {
        if (nNow < file.nRetryAtMs)
            return false;
        file.handle = m_pFiles->openFile(file.name, file.bWrite);
        if (file.handle < 0) {
            file.nRetryAtMs = nNow + kReopenIntervalMs;
            return false;
        }
    }
    std::vector<char> buffer(nMax);
    const long nRead = m_pFiles->readFile(file.handle, buffer.data(), buffer.size());
    if (nRead < 0) {
        m_pFiles->closeFile(file.handle);
        file.handle = -1;
        file.nRetryAtMs = nNow + kReopenIntervalMs;
        return false;
    }
    text.assign(buffer.data(), static_cast<size_t>(nRead));
    return true;
}

bool QAppleSmcTransport::readNumber(int nFile, long& nValue)
{
    std::string text;
    return readText(nFile, text) && parseNumber(text, nValue);
}

int QAppleSmcTransport::readValue(const Key& key, uint8_t* bytes)
{
    long nValue = 0;
    switch (key.source) {
    case Source::KeyCount: {
        const uint32_t nCount = keyCount();
        for (int i = 0; i < 4; ++i)
            bytes[i] = static_cast<uint8_t>(nCount >> (8 * (3 - i)));
        return kSmcReturnSuccess;
    }
    case Source::FanCount:
        bytes[0] = static_cast<uint8_t>(m_nFans);
        return kSmcReturnSuccess;
    case Source::FanSpeed:
        return readNumber(key.nFile, nValue) && nValue >= 0 && nValue <= kMaxRpm &&
                       SmcCodecUtils::encodeNumber(key.type, static_cast<double>(nValue), bytes,
                                                   key.size)
                   ? kSmcReturnSuccess
                   : kSmcReturnError;
    case Source::Temperature:
        return readNumber(key.nFile, nValue) && sp78FromMillidegrees(nValue, bytes)
                   ? kSmcReturnSuccess
                   : kSmcReturnError;
    case Source::FanId: {
        std::string label;
        if (!readText(key.nFile, label))
            return kSmcReturnError;
        label = stripLineEnd(label).substr(0, kFanIdSize - 4);
        std::memcpy(bytes + 4, label.data(), label.size());
        return kSmcReturnSuccess;
    }
    case Source::ManualMask:
        for (int fan = 0; fan < m_nFans && fan < 8; ++fan) {
            if (m_ManualFiles[fan] < 0)
                continue;
            if (!readNumber(m_ManualFiles[fan], nValue))
                return kSmcReturnError;
            if (nValue != 0)
                bytes[1] = static_cast<uint8_t>(bytes[1] | (1u << fan));
        }
        return kSmcReturnSuccess;
    }
    return kSmcReturnError;
}

int QAppleSmcTransport::writeManualMask(uint8_t nMask)
{
    int nResult = kSmcReturnSuccess;
    for (int fan = 0; fan < m_nFans && fan < 8; ++fan) {
        const int nFile = m_ManualFiles[fan];
        if (nFile < 0 || m_Files[nFile].handle < 0)
            continue;
        const char* flag = (nMask >> fan) & 1 ? "1" : "0";
        if (!m_pFiles->writeFile(m_Files[nFile].handle, flag))
            nResult = kSmcReturnError;
    }
    return nResult;
}

int QAppleSmcTransport::writeValue(const std::string& key, const uint8_t* bytes, uint32_t nSize)
{
    const Key* pKey = findKey(key);
    if (pKey && pKey->source == Source::ManualMask && nSize == 2)
        return writeManualMask(bytes[1]);
    if (!pKey || !pKey->bWritable)
        return kSmcReturnNotPrivileged;
    // The target in the type and size the key reports, shown to the driver as whole RPM.
    double dRpm = 0;
    if (nSize != pKey->size || !SmcCodecUtils::decodeNumber(pKey->type, bytes, nSize, dRpm) ||
        !(dRpm >= 0 && dRpm <= kMaxRpm))
        return kSmcReturnBadArgument;
    const File& file = m_Files[pKey->nFile];
    if (file.handle < 0)
        return kSmcReturnError;
    const std::string rpm = std::to_string(static_cast<long>(dRpm));
    return m_pFiles->writeFile(file.handle, rpm) ? kSmcReturnSuccess : kSmcReturnError;
}

uint32_t QAppleSmcTransport::keyCount()
{
    if (m_nIndexFile < 0)
        return static_cast<uint32_t>(m_Keys.size());
    long nCount = 0;
    if (readNumber(m_IndexFiles.nCount, nCount) && nCount > 0 && nCount <= UINT32_MAX)
        return static_cast<uint32_t>(nCount);
    return 0;
}

bool QAppleSmcTransport::controllerEntry(uint32_t index, ControllerEntry& entry)
{
    std::string name, type;
    long nLength = 0;
    if (m_Files[m_nIndexFile].handle < 0 ||
        !m_pFiles->writeFile(m_Files[m_nIndexFile].handle, std::to_string(index)) ||
        !readText(m_IndexFiles.nName, name) || !readText(m_IndexFiles.nType, type) ||
        !readNumber(m_IndexFiles.nLength, nLength) || nLength < 0 ||
        nLength > static_cast<long>(SmcCodecUtils::kMaxValueSize)) {
        m_nSelected = -1;
        return false;
    }
    entry.key = codeFromText(name);
    entry.type = codeFromText(type);
    entry.nSize = static_cast<uint32_t>(nLength);
    m_nSelected = index;
    m_Selected = entry;
    return true;
}

// The index is sorted byte-wise, as the controller keeps it; a dump asks for the key it has
// just listed, so the selected entry is tried first.
bool QAppleSmcTransport::controllerIndexOf(const std::string& key, uint32_t& index)
{
    if (m_nSelected >= 0 && m_Selected.key == key) {
        index = static_cast<uint32_t>(m_nSelected);
        return true;
    }
    uint32_t nBegin = 0, nEnd = keyCount();
    ControllerEntry entry;
    while (nBegin != nEnd) {
        const uint32_t nMiddle = nBegin + (nEnd - nBegin) / 2;
        if (!controllerEntry(nMiddle, entry))
            return false;
        if (entry.key < key)
            nBegin = nMiddle + 1;
        else
            nEnd = nMiddle;
    }
    if (nBegin >= keyCount() || !controllerEntry(nBegin, entry) || entry.key != key)
        return false;
    index = nBegin;
    return true;
}

int QAppleSmcTransport::keyInfo(const std::string& key, SMCKeyData_t& output)
{
    const Key* pKey = findKey(key);
    if (pKey && !m_bControllerValues) {
        output.dataSize = pKey->size;
        output.dataType = SmcCodecUtils::packCode(pKey->type.data(), 4);
        return kSmcReturnSuccess;
    }
    uint32_t index = 0;
    if (m_nIndexFile < 0 || !controllerIndexOf(key, index))
        return kSmcReturnNotFound;
    output.dataSize = m_Selected.nSize;
    output.dataType = SmcCodecUtils::packCode(m_Selected.type.data(), 4);
    return kSmcReturnSuccess;
}

int QAppleSmcTransport::readBytes(const std::string& key, SMCKeyData_t& output)
{
    const Key* pKey = findKey(key);
    if (pKey && !m_bControllerValues)
        return readValue(*pKey, output.bytes);
    uint32_t index = 0;
    std::string data;
    if (m_nIndexFile < 0 || !controllerIndexOf(key, index))
        return kSmcReturnNotFound;
    if (!controllerEntry(index, m_Selected) ||
        !readText(m_IndexFiles.nData, data, SmcCodecUtils::kMaxValueSize))
        return kSmcReturnError;
    std::memcpy(output.bytes, data.data(), std::min<size_t>(data.size(), m_Selected.nSize));
    output.dataSize = m_Selected.nSize;
    return kSmcReturnSuccess;
}

int QAppleSmcTransport::keyAtIndex(uint32_t index, SMCKeyData_t& output)
{
    std::string key;
    if (m_nIndexFile >= 0) {
        ControllerEntry entry;
        if (!controllerEntry(index, entry))
            return kSmcReturnNotFound;
        key = entry.key;
    } else {
        if (index >= m_Keys.size())
            return kSmcReturnNotFound;
        key = m_Keys[index].key;
    }
    output.key = SmcCodecUtils::packCode(key.data(), 4);
    return kSmcReturnSuccess;
}

int QAppleSmcTransport::call(uint32_t selector, const SMCKeyData_t& input, SMCKeyData_t& output)
{
    std::memset(&output, 0, sizeof(output));
    if (selector != kSmcMethodSelector)
        return kSmcReturnBadArgument;
    const std::string key = keyText(input.key);
    switch (input.command) {
    case SmcCmdReadKeyInfo:
        return keyInfo(key, output);
    case SmcCmdReadBytes:
        return readBytes(key, output);
    case SmcCmdReadIndex:
        return keyAtIndex(input.index, output);
    case SmcCmdWriteBytes:
        if (input.dataSize > SmcCodecUtils::kMaxValueSize)
            return kSmcReturnBadArgument;
        return writeValue(key, input.bytes, input.dataSize);
    default:
        return kSmcReturnBadArgument;
    }
}
