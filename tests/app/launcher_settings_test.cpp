#include "app/launcher_settings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "journal/journal.h"
#include "package/fast_file.h"
#include "support/test_support.h"

namespace {

const std::string kHost = kDefaultSettingsHost;

// The eight fields in line order, for compact expectations.
std::vector<std::string> Fields(const LauncherSettings& s) {
    return {s.HomePage, s.Support, s.WeiBo, s.Shop, s.Buy, s.ShowPage, s.UpdateIP, s.UpdatePort};
}

const std::vector<std::string> kAllDefaults = {kHost, kHost, kHost, kHost, kHost, kHost, "", ""};

const char kEightLines[] =
    "HomePage=http://home/\n"
    "Support=http://support/\n"
    "WeiBo=http://weibo/\n"
    "Shop=http://shop/\n"
    "Buy=http://buy/\n"
    "ShowPage=http://news/\n"
    "UpdateIP=10.0.0.1\n"
    "UpdatePort=21\n";

const std::vector<std::string> kEightValues = {"http://home/", "http://support/",
                                               "http://weibo/", "http://shop/",
                                               "http://buy/",  "http://news/",
                                               "10.0.0.1",     "21"};

struct ParseCase {
    const char* name;
    std::string content;
    std::vector<std::string> expected;
};

std::vector<ParseCase> ParseCases() {
    return {
        {"AllEightInOrder", kEightLines, kEightValues},
        {"CrLfLineEndsAndSpacesAreTrimmed",
         "HomePage = a \r\nSupport=\tb\r\nWeiBo=c\r\nShop=d\r\nBuy=e\r\nShowPage=f\r\n"
         "UpdateIP= 1.2.3.4 \r\nUpdatePort=80\r\n",
         {"a", "b", "c", "d", "e", "f", "1.2.3.4", "80"}},
        {"KeysAreNotComparedOnlyPositionsCount",
         "Shop=x\nUpdatePort=y\nHomePage=z\nA=1\nB=2\nC=3\nD=4\nE=5\n",
         {"x", "y", "z", "1", "2", "3", "4", "5"}},
        {"OneLineWithoutLineEndHasNoLines", "HomePage=http://home/", kAllDefaults},
        {"EmptyContent", "", kAllDefaults},
        {"ContentStartingWithNulIsEmpty", std::string("\0HomePage=a\n", 12), kAllDefaults},
        {"NulEndsTheContent", std::string("HomePage=a\nSupport=b\0\nWeiBo=c\n", 31),
         {"a", "b", kHost, kHost, kHost, kHost, "", ""}},
        {"ValueKeepsLaterEqualSigns", "a=1\nb=2\nc=3\nd=4\ne=5\nf=6\nUpdateIP=a=b\nUpdatePort=p=q\n",
         {"1", "2", "3", "4", "5", "6", "a=b", "p=q"}},
        {"EmptyValueStaysEmpty", "HomePage=\nSupport=  \n",
         {"", "", kHost, kHost, kHost, kHost, "", ""}},
        {"SixLinesLeaveServerEmpty", "a=1\nb=2\nc=3\nd=4\ne=5\nf=6",
         {"1", "2", "3", "4", "5", "6", "", ""}},
        // The text after the last line end is a line too, here an empty seventh.
        {"SixLinesWithFinalLineEndHaveAnEmptySeventh", "a=1\nb=2\nc=3\nd=4\ne=5\nf=6\n",
         {"1", "2", "3", "4", "5", "6", kHost, ""}},
        {"SeventhLineWithoutEqualsGivesDefaultHost", "a=1\nb=2\nc=3\nd=4\ne=5\nf=6\nserver\n",
         {"1", "2", "3", "4", "5", "6", kHost, ""}},
        {"EighthLineWithoutEqualsStaysEmpty",
         "a=1\nb=2\nc=3\nd=4\ne=5\nf=6\ng=7\nport\n", {"1", "2", "3", "4", "5", "6", "7", ""}},
        {"PageLineWithoutEqualsGivesDefaultHost", "HomePage\nSupport=s\n",
         {kHost, "s", kHost, kHost, kHost, kHost, "", ""}},
        {"LeadingEqualsIsNoCut", "=value\n=\n", {kHost, kHost, kHost, kHost, kHost, kHost, "", ""}},
        {"BlankLineKeepsItsPlace", "a=1\n\nc=3\n", {"1", kHost, "3", kHost, kHost, kHost, "", ""}},
        {"LeadingLineEndMakesNoEmptyFirstLine", "\nHomePage=a\nSupport=b\n",
         {"a", "b", kHost, kHost, kHost, kHost, "", ""}},
        {"LinesAfterTheEighthAreIgnored", std::string(kEightLines) + "Extra=zzz\nMore=1\n",
         kEightValues},
        {"GbkValueIsDecoded", "HomePage=\xD6\xD0\xCE\xC4\n", {"中文", kHost, kHost, kHost, kHost, kHost, "", ""}},
        {"GbkTrailByteBackslashIsPartOfItsCharacter", "HomePage=a\xD6\x5C" "b\n",
         {"a謀b", kHost, kHost, kHost, kHost, kHost, "", ""}},
    };
}

class SettingsParse : public testing::TestWithParam<ParseCase> {};

TEST_P(SettingsParse, FillsFieldsByLinePosition) {
    LauncherSettings settings;
    settings.TransferMode = 7;  // the reset must bring it back to HTTP
    std::vector<SettingsNote> notes;
    ParseSettingsContent(GetParam().content, &settings, &notes);
    EXPECT_EQ(Fields(settings), GetParam().expected);
    EXPECT_EQ(settings.TransferMode, kTransferModeHttp);
    EXPECT_TRUE(notes.empty());
}

INSTANTIATE_TEST_SUITE_P(Cases, SettingsParse, testing::ValuesIn(ParseCases()),
                         [](const testing::TestParamInfo<ParseCase>& tpi) {
                             return std::string(tpi.param.name);
                         });

struct CutCase {
    const char* name;
    int line;                // 1-based line that carries the value
    std::string value;       // GBK
    std::string expected;    // UTF-8
    size_t keptBytes;        // GBK bytes kept; 0 when the value fits
};

// n copies of the GBK character 中 (D6 D0), UTF-8 E4 B8 AD.
std::string Gbk(size_t n) {
    std::string s;
    for (size_t i = 0; i < n; ++i) s += "\xD6\xD0";
    return s;
}
std::string Utf8(size_t n) {
    std::string s;
    for (size_t i = 0; i < n; ++i) s += "中";
    return s;
}

std::vector<CutCase> CutCases() {
    return {
        {"PageOf254BytesFits", 1, std::string(254, 'a'), std::string(254, 'a'), 0},
        {"PageOf255BytesIsCut", 1, std::string(255, 'a'), std::string(254, 'a'), 254},
        {"PageCutNeverSplitsAGbkCharacter", 2, "a" + Gbk(127), "a" + Utf8(126), 253},
        {"PageOfWholeGbkCharactersCutEvenly", 6, Gbk(130), Utf8(127), 254},
        {"HostOf49BytesFits", 7, std::string(49, 'h'), std::string(49, 'h'), 0},
        {"HostOf50BytesIsCut", 7, std::string(50, 'h'), std::string(49, 'h'), 49},
        {"HostCutBeforeAGbkCharacter", 7, std::string(48, 'h') + Gbk(1), std::string(48, 'h'), 48},
        {"PortOf9BytesFits", 8, "123456789", "123456789", 0},
        {"PortOf10BytesIsCut", 8, "1234567890", "123456789", 9},
    };
}

class SettingsCut : public testing::TestWithParam<CutCase> {};

TEST_P(SettingsCut, LongValueIsCutAtACharacterBoundaryAndNoted) {
    const CutCase& c = GetParam();
    std::string content;
    for (int line = 1; line <= 8; ++line) {
        content += "k=" + (line == c.line ? c.value : std::string("v")) + "\n";
    }
    LauncherSettings settings;
    std::vector<SettingsNote> notes;
    ParseSettingsContent(content, &settings, &notes);
    EXPECT_EQ(Fields(settings)[static_cast<size_t>(c.line - 1)], c.expected);
    if (c.keptBytes == 0) {
        EXPECT_TRUE(notes.empty());
    } else {
        ASSERT_EQ(notes.size(), 1u);
        EXPECT_EQ(notes[0].kind, SettingsNote::Cut);
        EXPECT_EQ(notes[0].originalBytes, c.value.size());
        EXPECT_EQ(notes[0].keptBytes, c.keptBytes);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, SettingsCut, testing::ValuesIn(CutCases()),
                         [](const testing::TestParamInfo<CutCase>& tpi) {
                             return std::string(tpi.param.name);
                         });

TEST(SettingsParse, ValueThatIsNotGbkStaysEmptyAndIsNoted) {
    LauncherSettings settings;
    std::vector<SettingsNote> notes;
    ParseSettingsContent("HomePage=\xFF\xFF\nSupport=ok\n", &settings, &notes);
    EXPECT_EQ(settings.HomePage, "");
    EXPECT_EQ(settings.Support, "ok");
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0].kind, SettingsNote::Undecodable);
    EXPECT_STREQ(notes[0].field, "HomePage");
}

// Lines after the eighth, read by key: the first eight keep their places.
TEST(SettingsParse, NamedSettingsAfterTheEighthLine) {
    const std::string nine = "Mirrors=m1.example.com:8080/base;http://m2/;ftp://10.0.0.3:2121\n";
    const struct {
        const char* name;
        std::string extra;
        std::vector<std::string> mirrors;
        int64_t kibps;
        size_t notes;
    } cases[] = {
        {"both keys, schemes and separators dropped", nine + "MaxDownloadKiBps=2048\n",
         {"m1.example.com:8080/base", "m2", "10.0.0.3:2121"}, 2048, 0},
        {"keys in any case, spaces and empty entries", "mIrRoRs = a ; ;b;\nmaxdownloadkibps= 0 \n", {"a", "b"}, 0, 0},
        {"unknown keys and lines without = are ignored", "Proxy=x\nnonsense\n=5\n", {}, 0, 0},
        {"the last of a repeated key holds", "Mirrors=a\nMirrors=b\n", {"b"}, 0, 0},
        {"not a number", "MaxDownloadKiBps=fast\n", {}, 0, 1},
        {"negative", "MaxDownloadKiBps=-5\n", {}, 0, 1},
        {"over the ceiling", "MaxDownloadKiBps=" + std::to_string(kMaxDownloadKiBps + 1) + "\n", {}, 0, 1},
        {"beyond 64 bits", "MaxDownloadKiBps=99999999999999999999999\n", {}, 0, 1},
        {"a bad number keeps the good one before it", "MaxDownloadKiBps=64\nMaxDownloadKiBps=1e3\n", {}, 64, 1},
        {"under the floor is raised to it", "MaxDownloadKiBps=1\n", {}, kMinDownloadKiBps, 1},
        {"https stays, in lower case", "Mirrors=HTTPS://cdn.example/base/;https://m3:8443\n",
         {"https://cdn.example/base", "https://m3:8443"}, 0, 0},
        {"too many mirrors", "Mirrors=a;b;c;d;e;f;g;h;i;j\n", {"a", "b", "c", "d", "e", "f", "g", "h"}, 0, 1},
        {"a mirror with a blank or over its length is left out",
         "Mirrors=a b;" + std::string(kMaxMirrorBytes + 1, 'x') + ";c;\xD6\xD0\n", {"c"}, 0, 3},
    };
    for (const auto& c : cases) {
        LauncherSettings settings;
        std::vector<SettingsNote> notes;
        ParseSettingsContent(std::string(kEightLines) + c.extra, &settings, &notes);
        EXPECT_EQ(Fields(settings), kEightValues) << c.name;
        EXPECT_EQ(settings.Mirrors, c.mirrors) << c.name;
        EXPECT_EQ(settings.MaxDownloadKiBps, c.kibps) << c.name;
        EXPECT_EQ(notes.size(), c.notes) << c.name;
        for (const SettingsNote& note : notes) EXPECT_EQ(note.kind, SettingsNote::Refused) << c.name;
    }
    // Named keys on the first eight lines are read by position, not by name.
    LauncherSettings settings;
    std::vector<SettingsNote> notes;
    ParseSettingsContent("Mirrors=a\nMaxDownloadKiBps=9\n", &settings, &notes);
    EXPECT_EQ(settings.HomePage, "a");
    EXPECT_TRUE(settings.Mirrors.empty());
    EXPECT_EQ(settings.MaxDownloadKiBps, 0);
}

TEST(GbkPrefix, NeverEndsInsideACharacter) {
    struct Case {
        std::string text;
        size_t max;
        size_t expected;
    };
    const Case cases[] = {
        {"abc", 2, 2},
        {"abc", 9, 3},
        {"", 4, 0},
        {"\xD6\xD0\xCE\xC4", 3, 2},
        {"\xD6\xD0\xCE\xC4", 4, 4},
        {"a\xD6\xD0", 2, 1},
        {"\xD6\x5C", 1, 0},          // 0x5C is a trail byte here, not a back-slash
        {"\xD6\x5C" "a", 3, 3},
        {"a\x81", 5, 2},             // a lone lead byte at the end counts alone
        {"\x80\xD6\xD0", 2, 1},      // 0x80 is not a lead byte
    };
    for (const Case& c : cases) {
        EXPECT_EQ(GbkPrefixLength(c.text, c.max), c.expected) << "max " << c.max;
    }
}

// The files of a launcher folder, and what the journal says about them.
class SettingsFiles : public testing::Test {
protected:
    void SetUp() override { TheJournal().AttachFile(m_log.c_str()); }
    void TearDown() override { TheJournal().Detach(); }

    void WriteData(const std::string& plain, const FileKey& key) {
        CFastFile file(ModeWrite);
        ASSERT_TRUE(file.Open(m_dir.File("config.data").c_str(), "w+"));
        ASSERT_TRUE(file.WriteBytes(plain.data(), plain.size(), &key, true));
        file.Close();
    }
    LauncherSettings Load() {
        m_linesBefore = LogLines();
        LauncherSettings settings;
        LoadLauncherSettings(m_dir.Path(), &settings);
        return settings;
    }
    std::string Log() { return ReadTextFile(m_log); }
    int LogLines() {
        const std::string log = Log();
        return static_cast<int>(std::count(log.begin(), log.end(), '\n'));
    }
    int LinesLoggedByLoad() { return LogLines() - m_linesBefore; }

    TempDir m_dir;
    TempDir m_logDir;
    std::string m_log = m_logDir.File("launcher.log");
    int m_linesBefore = 0;
};

const char kIniContent[] = "HomePage=ini\nSupport=ini\n";

TEST_F(SettingsFiles, NeitherFileGivesDefaultsAndLogsOnlyThePath) {
    EXPECT_EQ(Fields(Load()), kAllDefaults);
    EXPECT_EQ(LinesLoggedByLoad(), 1);
    EXPECT_NE(Log().find("config.data"), std::string::npos);
}

TEST_F(SettingsFiles, PlainIniIsReadWhenThereIsNoData) {
    WriteTextFile(m_dir.File("config.ini"), kEightLines);
    EXPECT_EQ(Fields(Load()), kEightValues);
}

TEST_F(SettingsFiles, EncipheredDataWinsOverIni) {
    WriteData(kEightLines, LauncherFileKey());
    WriteTextFile(m_dir.File("config.ini"), kIniContent);
    EXPECT_EQ(Fields(Load()), kEightValues);
    EXPECT_EQ(Log().find("[Error]"), std::string::npos);
}

TEST_F(SettingsFiles, EmptyDataKeepsIniUnreadWithoutError) {
    WriteTextFile(m_dir.File("config.data"), "");
    WriteTextFile(m_dir.File("config.ini"), kIniContent);
    EXPECT_EQ(Fields(Load()), kAllDefaults);
    EXPECT_EQ(LinesLoggedByLoad(), 1);
}

TEST_F(SettingsFiles, UndecipherableDataGivesNoContentAndAnError) {
    struct Case {
        const char* name;
        bool wrongKey;
        std::string bytes;  // written as they are when not wrongKey
    };
    const Case cases[] = {
        {"other key", true, ""},
        {"plain text", false, kEightLines},
        {"garbage", false, std::string("\x01\x02\x03\x04\x05\x06\x07\x08\x09", 9)},
    };
    for (const Case& c : cases) {
        if (c.wrongKey) {
            WriteData(kEightLines, FileKey{1, 2, 3, 4, 5});
        } else {
            WriteTextFile(m_dir.File("config.data"), c.bytes);
        }
        WriteTextFile(m_dir.File("config.ini"), kIniContent);
        TheJournal().Detach();
        WriteTextFile(m_log, "");
        TheJournal().AttachFile(m_log.c_str());
        EXPECT_EQ(Fields(Load()), kAllDefaults) << c.name;
        EXPECT_NE(Log().find("[Error]"), std::string::npos) << c.name;
    }
}

TEST_F(SettingsFiles, CutValueIsLogged) {
    WriteTextFile(m_dir.File("config.ini"),
                  "a\nb\nc\nd\ne\nf\ng\nUpdatePort=" + std::string(12, '9') + "\nMaxDownloadKiBps=x\n");
    EXPECT_EQ(Load().UpdatePort, std::string(9, '9'));
    EXPECT_NE(Log().find("UpdatePort"), std::string::npos);
    EXPECT_NE(Log().find("[Notice] config: MaxDownloadKiBps: not a number"), std::string::npos);
}

}  // namespace
