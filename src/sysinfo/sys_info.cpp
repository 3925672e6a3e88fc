#include "sysinfo/sys_info.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <limits>

#include "sysinfo/system_readings.h"

CSysInfo::CSysInfo()
    : m_pOwnReadings(CreateSystemReadings()), m_readings(*m_pOwnReadings) {
    m_bNtFamily = m_readings.IsNtFamily();
}

CSysInfo::CSysInfo(ISystemReadings& readings) : m_readings(readings) {
    m_bNtFamily = m_readings.IsNtFamily();
}

CSysInfo::~CSysInfo() = default;

// The order matters: the version numbers gate the memory and adapter queries.
void CSysInfo::Collect() {
    m_aNetworkCards.clear();
    m_bAdapterQuery = m_readings.LoadAdapterQuery();
    m_bWow64 = m_readings.ReadWow64();
    if (!m_readings.ReadVersion(&m_version)) m_version = PlatformVersion{};
    m_strOS = ComposeOsText(m_readings.ReadOsTextValues(), m_bWow64);
    m_nProcessorCount = m_readings.ReadProcessorCount();
    m_processor = m_readings.ReadProcessorValues();
    m_memory = ReadMemoryTotals();
    m_aBrowserVersion = ParseBrowserVersion(m_readings.ReadBrowserVersionText());
    ReadNetworkAdapters();
    m_sound = m_readings.ReadSoundDeviceNames();
    m_aVideoCards = m_readings.ReadDisplayAdapterNames();
    if (m_aVideoCards.size() > kMaxDisplayAdapters) m_aVideoCards.resize(kMaxDisplayAdapters);
}

MemoryTotals CSysInfo::ReadMemoryTotals() {
    MemoryTotals totals;
    if (UseExtendedMemoryQuery(m_bNtFamily, m_version) && m_readings.ReadMemoryExtended(&totals)) {
        return totals;
    }
    return m_readings.ReadMemoryBasic();
}

void CSysInfo::ReadNetworkAdapters() {
    if (!UseAdapterQuery(m_bAdapterQuery, m_bNtFamily, m_version)) return;
    std::vector<std::string> descriptions;
    if (!m_readings.ReadNetworkAdapters(&descriptions)) return;
    if (descriptions.size() > kMaxNetworkAdapters) descriptions.resize(kMaxNetworkAdapters);
    m_aNetworkCards = std::move(descriptions);
}

void CSysInfo::GetReport(SystemFacts* factsOut) const {
    SystemFacts& facts = *factsOut;
    facts.strOS = m_strOS;
    facts.strCPU = m_processor.name;
    facts.strCPUProducer = m_processor.vendor;
    facts.strCPUIdentifier = m_processor.identifier;
    facts.strGHz = FormatClockGHz(m_processor.clockMHz);
    facts.strCPUCount = std::to_string(m_nProcessorCount);
    facts.strPhysicalMemory = FormatMebibytes(m_memory.totalPhysicalBytes);
    facts.strVirtualMemory = FormatMebibytes(m_memory.totalVirtualBytes);
    facts.aVideoCards = m_aVideoCards;
    facts.strSoundCard = m_sound.waveOut + m_sound.midiOut;
    facts.aNetworkCards = m_aNetworkCards;
    facts.strIEVersion = FormatBrowserVersion(m_aBrowserVersion);
}

std::string ComposeOsText(const OsTextValues& values, bool wow64) {
    std::string text = "Microsoft ";
    if (!values.keyOpened) return text;
    if (values.productName) text += *values.productName + " ";
    if (values.servicePack) text += *values.servicePack + " ";
    if (values.currentVersion) {
        text += wow64 ? "64bit (" : "32bit (";
        text += *values.currentVersion + " ";
    }
    if (values.currentBuild) text += *values.currentBuild + " ) ";
    return text;
}

std::string FormatClockGHz(uint32_t clockMHz) {
    // At most "4294967.30": the buffer cannot overflow.
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.2f", static_cast<double>(clockMHz) / 1000.0);
    return buffer;
}

std::string FormatMebibytes(uint64_t bytes) { return std::to_string(bytes >> 20); }

bool UseExtendedMemoryQuery(bool ntFamily, const PlatformVersion& version) {
    return ntFamily && version.major >= 5;
}

bool UseAdapterQuery(bool queryFound, bool ntFamily, const PlatformVersion& version) {
    if (!queryFound) return false;
    return ntFamily ? version.major >= 5 : version.minor >= 10;
}

namespace {

// One "%d" conversion: blanks, an optional sign, at least one digit. A number
// beyond the 32-bit range is held at its limit.
bool ReadDecimal(const char** cursor, int32_t* valueOut) {
    const char* p = *cursor;
    while (std::isspace(static_cast<unsigned char>(*p))) ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    if (!std::isdigit(static_cast<unsigned char>(*p))) return false;
    constexpr int64_t kLimit = int64_t{std::numeric_limits<int32_t>::max()} + 1;
    int64_t value = 0;
    for (; std::isdigit(static_cast<unsigned char>(*p)); ++p) {
        value = std::min<int64_t>(value * 10 + (*p - '0'), kLimit);
    }
    if (negative) value = -value;
    *valueOut = static_cast<int32_t>(
        std::clamp<int64_t>(value, std::numeric_limits<int32_t>::min(),
                            std::numeric_limits<int32_t>::max()));
    *cursor = p;
    return true;
}

}  // namespace

BrowserVersion ParseBrowserVersion(const std::optional<std::string>& text) {
    BrowserVersion numbers{};
    if (!text) return numbers;
    const char* cursor = text->c_str();
    for (size_t i = 0; i < numbers.size(); ++i) {
        if (i > 0) {
            if (*cursor != '.') break;
            ++cursor;
        }
        if (!ReadDecimal(&cursor, &numbers[i])) break;
    }
    return numbers;
}

std::string FormatBrowserVersion(const BrowserVersion& version) {
    return std::to_string(version[0]) + " ," + std::to_string(version[1]) + " , " +
           std::to_string(version[2]) + " , " + std::to_string(version[3]);
}
