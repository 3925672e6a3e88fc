#include "app/launcher_settings.h"

#include <algorithm>
#include <memory>

#include "app/util/launcher_util.h"
#include "journal/journal.h"
#include "package/fast_file.h"
#include "platform/file_system.h"
#include "platform/text_encoding.h"

namespace {

// What a setting gets when its line is missing, or when the line has no value
// after an "=".
enum class Fallback { DefaultHost, Empty };

struct FieldRule {
    const char* name;
    std::string LauncherSettings::*member;
    size_t widthBytes;
    Fallback lineMissing;
    Fallback noValue;
};

// In line order: the k-th line fills the k-th field, whatever its key says.
constexpr FieldRule kFieldRules[] = {
    {"HomePage", &LauncherSettings::HomePage, kPageFieldBytes, Fallback::DefaultHost,
     Fallback::DefaultHost},
    {"Support", &LauncherSettings::Support, kPageFieldBytes, Fallback::DefaultHost,
     Fallback::DefaultHost},
    {"WeiBo", &LauncherSettings::WeiBo, kPageFieldBytes, Fallback::DefaultHost,
     Fallback::DefaultHost},
    {"Shop", &LauncherSettings::Shop, kPageFieldBytes, Fallback::DefaultHost,
     Fallback::DefaultHost},
    {"Buy", &LauncherSettings::Buy, kPageFieldBytes, Fallback::DefaultHost, Fallback::DefaultHost},
    {"ShowPage", &LauncherSettings::ShowPage, kPageFieldBytes, Fallback::DefaultHost,
     Fallback::DefaultHost},
    {"UpdateIP", &LauncherSettings::UpdateIP, kUpdateIpFieldBytes, Fallback::Empty,
     Fallback::DefaultHost},
    {"UpdatePort", &LauncherSettings::UpdatePort, kUpdatePortFieldBytes, Fallback::Empty,
     Fallback::Empty},
};

std::string FallbackText(Fallback fallback) {
    return fallback == Fallback::DefaultHost ? std::string(kDefaultSettingsHost) : std::string();
}

// Cuts a GBK value to its field (room for the NUL kept) and decodes it.
std::string FitValue(const FieldRule& rule, const std::string& gbkValue,
                     std::vector<SettingsNote>* notesOut) {
    const size_t room = rule.widthBytes - 1;
    std::string kept = gbkValue;
    if (kept.size() > room) {
        kept.resize(GbkPrefixLength(kept, room));
        notesOut->push_back({SettingsNote::Cut, rule.name, gbkValue.size(), kept.size(), std::string()});
    }
    std::string utf8;
    if (!GbkToUtf8(kept, &utf8)) {
        notesOut->push_back({SettingsNote::Undecodable, rule.name, gbkValue.size(), 0, std::string()});
        return {};
    }
    return utf8;
}

bool SameAsciiKey(const std::string& a, const char* b) {
    size_t i = 0;
    for (; i < a.size() && b[i] != '\0'; ++i) {
        const auto fold = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
        if (fold(a[i]) != fold(b[i])) return false;
    }
    return i == a.size() && b[i] == '\0';
}

// A host as UpdateIP holds it: a leading "http://" or "ftp://" and trailing
// separators go, "https://" stays (in lower case) since it picks TLS; what
// is left must be printable ASCII without blanks.
bool BareHost(const std::string& entry, std::string* hostOut) {
    std::string host = entry;
    bool secure = false;
    for (const char* scheme : {"http://", "ftp://", "https://"}) {
        const size_t length = std::char_traits<char>::length(scheme);
        if (host.size() < length || !SameAsciiKey(host.substr(0, length), scheme)) continue;
        host.erase(0, length);
        secure = length == 8;
    }
    while (!host.empty() && (host.back() == '/' || host.back() == '\\')) host.pop_back();
    if (host.empty() || host.size() > kMaxMirrorBytes) return false;
    for (char c : host) {
        if (c <= 0x20 || c >= 0x7F) return false;
    }
    *hostOut = secure ? "https://" + host : host;
    return true;
}

void Refused(std::vector<SettingsNote>* notesOut, const char* field, const std::string& detail) {
    SettingsNote note;
    note.kind = SettingsNote::Refused;
    note.field = field;
    note.detail = detail;
    notesOut->push_back(note);
}

void ApplyMirrors(const std::string& value, LauncherSettings* settingsOut, std::vector<SettingsNote>* notesOut) {
    settingsOut->Mirrors.clear();
    size_t begin = 0;
    for (size_t index = 1; begin <= value.size(); ++index) {
        const size_t end = std::min(value.find(';', begin), value.size());
        const std::string entry = TrimText(value.substr(begin, end - begin));
        begin = end + 1;
        if (entry.empty()) continue;
        std::string host;
        if (!BareHost(entry, &host)) {
            Refused(notesOut, "Mirrors",
                    "entry " + std::to_string(index) + " is not a host of at most " +
                        std::to_string(kMaxMirrorBytes) + " printable ASCII bytes; left out");
        } else if (settingsOut->Mirrors.size() == kMaxMirrors) {
            Refused(notesOut, "Mirrors",
                    "more than " + std::to_string(kMaxMirrors) + " hosts; the rest are left out");
            return;
        } else {
            settingsOut->Mirrors.push_back(host);
        }
    }
}

void ApplyRateLimit(const std::string& value, LauncherSettings* settingsOut, std::vector<SettingsNote>* notesOut) {
    const bool digits = !value.empty() && value.size() <= 12 &&
                        value.find_first_not_of("0123456789") == std::string::npos;
    const int64_t kibps = digits ? std::stoll(value) : -1;
    if (kibps < 0 || kibps > kMaxDownloadKiBps) {
        Refused(notesOut, "MaxDownloadKiBps",
                "not a number of KiB/s from 0 to " + std::to_string(kMaxDownloadKiBps) + "; stays " +
                    std::to_string(settingsOut->MaxDownloadKiBps));
        return;
    }
    settingsOut->MaxDownloadKiBps = kibps;
    if (kibps != 0 && kibps < kMinDownloadKiBps) {
        settingsOut->MaxDownloadKiBps = kMinDownloadKiBps;
        Refused(notesOut, "MaxDownloadKiBps",
                std::to_string(kibps) + " KiB/s is under the floor; raised to " + std::to_string(kMinDownloadKiBps));
    }
}

void LogNotes(const std::vector<SettingsNote>& notes) {
    for (const SettingsNote& note : notes) {
        if (note.kind == SettingsNote::Refused) {
            TheJournal().AddEntryF(EntryKind::Notice, "config: %s: %s", note.field, note.detail.c_str());
        } else if (note.kind == SettingsNote::Cut) {
            TheJournal().AddEntryF(EntryKind::Notice,
                                   "config: %s is %lu bytes long, cut to %lu bytes", note.field,
                                   static_cast<unsigned long>(note.originalBytes),
                                   static_cast<unsigned long>(note.keptBytes));
        } else {
            TheJournal().AddEntryF(EntryKind::Error,
                                   "config: %s is not GBK text and stays empty", note.field);
        }
    }
}

enum class ReadOutcome { NotOpened, NoContent, Content };

// Opens one configuration file; a file that opens but holds bytes that cannot
// be read (or deciphered) gives no content and an Error entry.
ReadOutcome ReadSettingsFile(const std::string& path, bool deciphered, std::string* contentOut) {
    contentOut->clear();
    CFastFile file(ModeRead);
    if (!file.Open(path.c_str(), "r+")) return ReadOutcome::NotOpened;
    // An empty file is no content, not a damaged one.
    if (fs_port::FileSize(path) == 0) return ReadOutcome::NoContent;
    size_t size = 0;
    std::unique_ptr<char[]> content =
        file.Read(&size, deciphered ? &LauncherFileKey() : nullptr, deciphered);
    file.Close();
    if (!content) {
        TheJournal().AddEntryF(EntryKind::Error, "config: %s cannot be %s", path.c_str(),
                               deciphered ? "deciphered" : "read");
        return ReadOutcome::NoContent;
    }
    contentOut->assign(content.get(), size);
    return ReadOutcome::Content;
}

}  // namespace

size_t GbkPrefixLength(std::string_view gbk, size_t maxBytes) {
    size_t pos = 0;
    while (pos < gbk.size()) {
        const auto lead = static_cast<unsigned char>(gbk[pos]);
        const size_t step = (lead >= 0x81 && lead <= 0xFE && pos + 1 < gbk.size()) ? 2 : 1;
        if (pos + step > maxBytes) break;
        pos += step;
    }
    return pos;
}

void ParseSettingsContent(std::string_view gbkContent, LauncherSettings* settingsOut,
                          std::vector<SettingsNote>* notesOut) {
    *settingsOut = LauncherSettings();
    notesOut->clear();
    // The content is a NUL-terminated text: whatever follows a NUL is not read.
    const std::string text(gbkContent.substr(0, gbkContent.find('\0')));
    std::vector<std::string> lines;
    if (!text.empty()) SplitText(text, "\n", &lines);

    size_t index = 0;
    for (const FieldRule& rule : kFieldRules) {
        std::string& field = settingsOut->*rule.member;
        if (index >= lines.size()) {
            field = FallbackText(rule.lineMissing);
        } else {
            std::vector<std::string> pieces;
            SplitAtFirst(lines[index], "=", &pieces);
            field = pieces.size() >= 2 ? FitValue(rule, pieces[1], notesOut)
                                       : FallbackText(rule.noValue);
        }
        ++index;
    }
    for (; index < lines.size(); ++index) {
        std::vector<std::string> pieces;
        SplitAtFirst(lines[index], "=", &pieces);
        if (pieces.size() >= 2) ApplyNamedSetting(pieces[0], pieces[1], settingsOut, notesOut);
    }
}

void ApplyNamedSetting(const std::string& key, const std::string& gbkValue, LauncherSettings* settingsOut,
                       std::vector<SettingsNote>* notesOut) {
    // Both values are ASCII when they are usable at all; GBK bytes fail the checks.
    if (SameAsciiKey(key, "Mirrors")) ApplyMirrors(gbkValue, settingsOut, notesOut);
    if (SameAsciiKey(key, "MaxDownloadKiBps")) ApplyRateLimit(gbkValue, settingsOut, notesOut);
}

void LoadLauncherSettings(const std::string& launcherFolder, LauncherSettings* settingsOut) {
    *settingsOut = LauncherSettings();
    const std::string dataPath = launcherFolder + "\\config.data";
    TheJournal().AddEntry(EntryKind::Info, dataPath.c_str());

    std::string content;
    // An existing config.data, even an empty or damaged one, keeps config.ini unread.
    if (ReadSettingsFile(dataPath, true, &content) == ReadOutcome::NotOpened) {
        ReadSettingsFile(launcherFolder + "\\config.ini", false, &content);
    }
    std::vector<SettingsNote> notes;
    ParseSettingsContent(content, settingsOut, &notes);
    TheJournal().TrapFaults(false);
    LogNotes(notes);
}

bool LoadSettingsFile(const std::string& path, LauncherSettings* settingsOut) {
    const size_t dot = path.rfind('.');
    const bool deciphered = dot != std::string::npos && SameAsciiKey(path.substr(dot), ".data");
    std::string content;
    if (ReadSettingsFile(path, deciphered, &content) == ReadOutcome::NotOpened) return false;
    std::vector<SettingsNote> notes;
    ParseSettingsContent(content, settingsOut, &notes);
    LogNotes(notes);
    return true;
}
