#include "sysinfo/display_adapter_walk.h"

#include <algorithm>

#include "app/util/launcher_util.h"
#include "sysinfo/system_readings.h"

namespace {

const char kServicesPath[] = "SYSTEM\\CurrentControlSet\\Services";
const char kEnumPath[] = "SYSTEM\\CurrentControlSet\\Enum";
const char kVideoGroup[] = "Video";

// An open key of the view, closed when the guard goes.
class KeyGuard {
public:
    explicit KeyGuard(IRegistryView& registry) : m_registry(registry) {}
    ~KeyGuard() { Close(); }
    KeyGuard(const KeyGuard&) = delete;
    KeyGuard& operator=(const KeyGuard&) = delete;

    [[nodiscard]] bool Open(IRegistryView::Key parent, const std::string& path) {
        Close();
        m_open = m_registry.OpenKey(parent, path, &m_key);
        return m_open;
    }
    void Close() {
        if (m_open) m_registry.CloseKey(m_key);
        m_open = false;
    }
    IRegistryView::Key Get() const { return m_key; }

private:
    IRegistryView& m_registry;
    IRegistryView::Key m_key = 0;
    bool m_open = false;
};

// Adds the names of the devices listed under a video service's "Enum" key:
// "Count" entries named "0", "1", ... each hold a device's instance path
// below the machine's device tree.
void ListServiceDevices(IRegistryView& registry, IRegistryView::Key deviceList,
                        IRegistryView::Key deviceTree, std::vector<std::string>* namesOut) {
    uint32_t count = 0;
    if (!registry.ReadNumber(deviceList, "Count", &count)) return;
    count = std::min<uint32_t>(count, static_cast<uint32_t>(kMaxDisplayAdapters));
    for (uint32_t i = 0; i < count; ++i) {
        std::string instancePath;
        if (!registry.ReadText(deviceList, std::to_string(i), kWalkTextMaxChars, &instancePath) ||
            instancePath.empty()) {
            continue;
        }
        KeyGuard device(registry);
        if (!device.Open(deviceTree, instancePath)) continue;
        std::string text;
        if (registry.ReadText(device.Get(), "FriendlyName", kWalkTextMaxChars, &text) ||
            registry.ReadText(device.Get(), "DeviceDesc", kWalkTextMaxChars, &text)) {
            namesOut->push_back(DisplayNameFromText(text));
        }
    }
}

}  // namespace

std::vector<std::string> WalkDisplayAdapters(IRegistryView& registry, const PauseFunction& pause) {
    std::vector<std::string> names;
    KeyGuard services(registry);
    KeyGuard deviceTree(registry);
    if (!services.Open(IRegistryView::kRootKey, kServicesPath) ||
        !deviceTree.Open(IRegistryView::kRootKey, kEnumPath)) {
        return names;
    }
    pause(kServicePauseMs);
    for (uint32_t index = 0; index < kMaxServiceKeys; ++index) {
        std::string serviceName;
        if (!registry.EnumSubKey(services.Get(), index, &serviceName)) break;
        KeyGuard service(registry);
        if (!service.Open(services.Get(), serviceName)) break;
        std::string group;
        if (!registry.ReadText(service.Get(), "Group", kWalkTextMaxChars, &group) ||
            group != kVideoGroup) {
            service.Close();
            pause(kServicePauseMs);
            continue;
        }
        // Only the first video service counts, whether or not it lists devices.
        KeyGuard deviceList(registry);
        const bool listed = deviceList.Open(service.Get(), "Enum");
        service.Close();
        if (listed) ListServiceDevices(registry, deviceList.Get(), deviceTree.Get(), &names);
        break;
    }
    return names;
}

std::string DisplayNameFromText(const std::string& text) {
    std::vector<std::string> pieces;
    SplitText(text, ";", &pieces);
    if (pieces.empty()) return text;
    // A text whose only ";" leads it has one piece, the text after it.
    return pieces.size() >= 2 ? pieces[1] : pieces[0];
}
