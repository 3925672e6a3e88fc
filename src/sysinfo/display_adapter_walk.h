// The walk through the machine's service and device registry that lists the
// display adapters: the first service of the group "Video" names its devices,
// and each device's friendly name (or its description) is the adapter's name.
// The walk runs over a read-only registry view so that it can be exercised on
// its own; the Win32 readings give it the real registry.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class IRegistryView {
public:
    using Key = uintptr_t;
    // The view's root (HKEY_LOCAL_MACHINE for the real machine).
    static constexpr Key kRootKey = 0;

    virtual ~IRegistryView() = default;
    // Opens a key below parent for reading; path may hold several "\"-separated levels.
    [[nodiscard]] virtual bool OpenKey(Key parent, const std::string& path, Key* keyOut) = 0;
    virtual void CloseKey(Key key) = 0;
    // Name of the index-th subkey; false past the last one (or on any failure).
    [[nodiscard]] virtual bool EnumSubKey(Key key, uint32_t index, std::string* nameOut) = 0;
    // A text value that fits in maxChars characters, its terminating zero
    // included; a longer one is not read (false).
    [[nodiscard]] virtual bool ReadText(Key key, const std::string& name, size_t maxChars,
                                        std::string* textOut) = 0;
    // A 4-byte number value.
    [[nodiscard]] virtual bool ReadNumber(Key key, const std::string& name,
                                          uint32_t* numberOut) = 0;
};

using PauseFunction = std::function<void(uint32_t milliseconds)>;

// The pause before the first service key and after each one passed over. It
// keeps the walk from hogging the registry on machines with many services.
constexpr uint32_t kServicePauseMs = 5;
// A registry that never ends its enumeration still ends the walk.
constexpr uint32_t kMaxServiceKeys = 100000;

// Names of the display adapters of the first video service, at most
// kMaxDisplayAdapters, in the order of the service's device list.
std::vector<std::string> WalkDisplayAdapters(IRegistryView& registry, const PauseFunction& pause);

// The display name within a device text: a text without ";" is the name as it
// stands; "@oem1.inf,%desc%;NVIDIA GeForce" gives "NVIDIA GeForce".
std::string DisplayNameFromText(const std::string& text);
