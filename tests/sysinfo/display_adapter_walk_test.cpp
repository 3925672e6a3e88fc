#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "sysinfo/display_adapter_walk.h"
#include "sysinfo/system_readings.h"

namespace {

const std::string kServices = "SYSTEM\\CurrentControlSet\\Services";
const std::string kEnum = "SYSTEM\\CurrentControlSet\\Enum";

// An in-memory registry: keys by full path, subkeys in insertion order.
class FakeRegistry : public IRegistryView {
public:
    struct Node {
        std::vector<std::string> subkeys;
        std::map<std::string, std::string> texts;
        std::map<std::string, uint32_t> numbers;
    };

    Node& Add(const std::string& path) {
        const size_t cut = path.rfind('\\');
        if (cut != std::string::npos && !m_nodes.count(path)) {
            Add(path.substr(0, cut)).subkeys.push_back(path.substr(cut + 1));
        }
        return m_nodes[path];
    }
    void AddService(const std::string& name, const char* group) {
        Node& service = Add(kServices + "\\" + name);
        if (group) service.texts["Group"] = group;
    }
    // A video service listing devices; each device gets the given values.
    void AddDevices(const std::string& service,
                    const std::vector<std::map<std::string, std::string>>& devices) {
        Node& list = Add(kServices + "\\" + service + "\\Enum");
        list.numbers["Count"] = static_cast<uint32_t>(devices.size());
        for (size_t i = 0; i < devices.size(); ++i) {
            const std::string instance = "PCI\\VEN_" + service + "\\" + std::to_string(i);
            list.texts[std::to_string(i)] = instance;
            Add(kEnum + "\\" + instance).texts = devices[i];
        }
    }

    bool OpenKey(Key parent, const std::string& path, Key* keyOut) override {
        const std::string full = parent == kRootKey ? path : m_open.at(parent) + "\\" + path;
        if (!m_nodes.count(full)) return false;
        *keyOut = ++m_lastKey;
        m_open[*keyOut] = full;
        return true;
    }
    void CloseKey(Key key) override { EXPECT_EQ(m_open.erase(key), 1u) << "closed twice"; }
    bool EnumSubKey(Key key, uint32_t index, std::string* nameOut) override {
        const Node& node = m_nodes.at(m_open.at(key));
        if (index >= node.subkeys.size()) return false;
        *nameOut = node.subkeys[index];
        return true;
    }
    bool ReadText(Key key, const std::string& name, size_t, std::string* textOut) override {
        const Node& node = m_nodes.at(m_open.at(key));
        const auto it = node.texts.find(name);
        if (it == node.texts.end()) return false;
        *textOut = it->second;
        return true;
    }
    bool ReadNumber(Key key, const std::string& name, uint32_t* numberOut) override {
        const Node& node = m_nodes.at(m_open.at(key));
        const auto it = node.numbers.find(name);
        if (it == node.numbers.end()) return false;
        *numberOut = it->second;
        return true;
    }
    size_t OpenKeys() const { return m_open.size(); }

private:
    std::map<std::string, Node> m_nodes;
    std::map<Key, std::string> m_open;
    Key m_lastKey = 0;
};

struct WalkResult {
    std::vector<std::string> names;
    int pauses = 0;
};

WalkResult Walk(FakeRegistry& registry) {
    WalkResult result;
    result.names = WalkDisplayAdapters(registry, [&](uint32_t ms) {
        EXPECT_EQ(ms, kServicePauseMs);
        ++result.pauses;
    });
    EXPECT_EQ(registry.OpenKeys(), 0u) << "a key was left open";
    return result;
}

FakeRegistry WithRoots() {
    FakeRegistry registry;
    registry.Add(kServices);
    registry.Add(kEnum);
    return registry;
}

TEST(DisplayAdapterWalk, NamesComeFromFriendlyNameOrTheDisplayPartOfTheDescription) {
    struct Case {
        const char* name;
        std::map<std::string, std::string> values;
        const char* expected;
    } cases[] = {
        {"inf reference and display name",
         {{"DeviceDesc", "@oem12.inf,%nvidia_dev.1c82%;NVIDIA GeForce GTX 1050 Ti"}},
         "NVIDIA GeForce GTX 1050 Ti"},
        {"no semicolon: the whole description", {{"DeviceDesc", " Standard VGA Adapter"}},
         " Standard VGA Adapter"},
        {"friendly name wins",
         {{"FriendlyName", "Primary Display"}, {"DeviceDesc", "@display.inf,%x%;Generic"}},
         "Primary Display"},
        {"second of three pieces", {{"DeviceDesc", "a;b;c"}}, "b"},
        {"pieces are trimmed", {{"DeviceDesc", "@vga.inf ;  Basic Display  "}}, "Basic Display"},
        {"only a leading semicolon", {{"DeviceDesc", ";Basic Display"}}, "Basic Display"},
        {"chinese name", {{"DeviceDesc", "@oem3.inf,%d%;标准 VGA 图形适配器"}},
         "标准 VGA 图形适配器"},
    };
    for (const Case& c : cases) {
        FakeRegistry registry = WithRoots();
        registry.AddService("BasicDisplay", "Video");
        registry.AddDevices("BasicDisplay", {c.values});
        EXPECT_EQ(Walk(registry).names, std::vector<std::string>{c.expected}) << c.name;
    }
}

TEST(DisplayAdapterWalk, OnlyTheFirstVideoServiceCountsAndPassedOverKeysPause) {
    FakeRegistry registry = WithRoots();
    registry.AddService("AFD", "TDI");
    registry.AddService("amdkmdag", nullptr);
    registry.AddService("cdrom", "video");  // the group is compared case-sensitively
    registry.AddService("igfx", "Video");
    registry.AddDevices("igfx", {{{"DeviceDesc", "@oem1.inf,%i%;Intel(R) UHD Graphics 630"}},
                                 {{"DeviceDesc", "Second Intel"}}});
    registry.AddService("nvlddmkm", "Video");
    registry.AddDevices("nvlddmkm", {{{"DeviceDesc", "NVIDIA"}}});
    const WalkResult result = Walk(registry);
    EXPECT_EQ(result.names, (std::vector<std::string>{"Intel(R) UHD Graphics 630", "Second Intel"}));
    EXPECT_EQ(result.pauses, 4);  // before the first key and after each of three passed over
}

TEST(DisplayAdapterWalk, FirstVideoServiceWithoutDevicesEndsTheWalkEmpty) {
    FakeRegistry registry = WithRoots();
    registry.AddService("BasicDisplay", "Video");  // no "Enum" subkey
    registry.AddService("nvlddmkm", "Video");
    registry.AddDevices("nvlddmkm", {{{"DeviceDesc", "NVIDIA"}}});
    EXPECT_TRUE(Walk(registry).names.empty());
}

TEST(DisplayAdapterWalk, UnreadableDevicesAreSkippedAndTheCountIsBounded) {
    FakeRegistry registry = WithRoots();
    registry.AddService("vid", "Video");
    std::vector<std::map<std::string, std::string>> devices(kMaxDisplayAdapters + 20,
                                                            {{"DeviceDesc", "gpu"}});
    devices[0] = {{"Mfg", "no name values"}};
    registry.AddDevices("vid", devices);
    FakeRegistry::Node& list = registry.Add(kServices + "\\vid\\Enum");
    list.texts["1"] = "PCI\\MISSING\\0";  // names a device key that does not exist
    list.texts.erase("2");                // no instance path at all
    const WalkResult result = Walk(registry);
    EXPECT_EQ(result.names.size(), kMaxDisplayAdapters - 3);
}

TEST(DisplayAdapterWalk, MissingRootsOrNoVideoServiceListNothing) {
    FakeRegistry complete = WithRoots();
    complete.AddService("vid", "Video");
    complete.AddDevices("vid", {{{"DeviceDesc", "gpu"}}});
    FakeRegistry onlyServices;
    onlyServices.AddService("vid", "Video");
    FakeRegistry noVideo = WithRoots();
    noVideo.AddService("AFD", "TDI");
    noVideo.AddService("Beep", nullptr);

    EXPECT_EQ(Walk(complete).names, std::vector<std::string>{"gpu"});  // control case
    const WalkResult missingEnum = Walk(onlyServices);
    EXPECT_TRUE(missingEnum.names.empty());
    EXPECT_EQ(missingEnum.pauses, 0);
    const WalkResult none = Walk(noVideo);
    EXPECT_TRUE(none.names.empty());
    EXPECT_EQ(none.pauses, 3);
}

}  // namespace
