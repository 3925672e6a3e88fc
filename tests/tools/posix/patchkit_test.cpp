// Runs the native patchkit program as an operator would.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cctype>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "support/test_support.h"

namespace {

struct Result {
    int exit = -1;
    std::string out;
    std::string err;
};

class Patchkit : public testing::Test {
protected:
    // args are passed to the shell as they stand; paths below m_dir need no quoting.
    Result Run(const std::string& args) {
        const std::string out = m_dir.File("stdout.txt");
        const std::string err = m_dir.File("stderr.txt");
        const int status = RunShell("cd '" + m_dir.Path() + "' && '" PATCHKIT_PATH "' " + args +
                                    " >'" + out + "' 2>'" + err + "'");
        Result r;
        r.exit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        r.out = ReadTextFile(out);
        r.err = ReadTextFile(err);
        return r;
    }
    std::string Path(const std::string& name) const { return m_dir.File(name); }
    void Write(const std::string& name, const std::string& content) { WriteTextFile(Path(name), content); }
    std::string Read(const std::string& name) const { return ReadTextFile(Path(name)); }
    bool Exists(const std::string& name) const { return RunShellOk("test -e '" + Path(name) + "'"); }
    static bool RunShellOk(const std::string& command) { return RunShell(command) == 0; }
    // The names in the test folder but the captured output streams.
    std::set<std::string> Names() const {
        std::vector<fs_port::DirEntry> entries;
        fs_port::ListDirectory(m_dir.Path(), &entries);
        std::set<std::string> names;
        for (const auto& e : entries) {
            if (e.name != "stdout.txt" && e.name != "stderr.txt") names.insert(e.name);
        }
        return names;
    }

    TempDir m_dir;
};

size_t Lines(const std::string& text) { return static_cast<size_t>(std::count(text.begin(), text.end(), '\n')); }

const std::string kBinary = std::string("line one\r\n\xD6\xD0\xCE\xC4\0tail\xFF", 20);

TEST_F(Patchkit, HelpForTheToolAndEveryVerb) {
    const char* commands[] = {"--help", "-h", "help", "encipher --help", "decipher -h",
                              "pack --help", "list --help", "extract --help", "digest --help",
                              "keygen --help", "sign -h", "resign --help", "delta --help", "apply -h"};
    for (const char* command : commands) {
        const Result r = Run(command);
        EXPECT_EQ(r.exit, 0) << command;
        EXPECT_NE(r.out.find("Usage: patchkit"), std::string::npos) << command;
        EXPECT_EQ(r.err, "") << command;
    }
    const std::string all = Run("--help").out;
    for (const char* verb : {"encipher", "decipher", "pack", "list", "extract", "digest", "keygen",
                             "sign", "resign", "delta", "apply"}) {
        EXPECT_NE(all.find(verb), std::string::npos) << verb;
    }
}

// Every "--name" a text names.
std::set<std::string> OptionsNamed(std::string text) {
    for (char& c : text) c = std::islower(static_cast<unsigned char>(c)) || c == '-' ? c : ' ';
    std::istringstream words(text);
    std::set<std::string> named;
    for (std::string word; words >> word;) {
        if (word.size() > 2 && word.compare(0, 2, "--") == 0 && word[2] != '-') named.insert(word);
    }
    return named;
}

// Each verb's help lists the options its parser takes (one table holds both)
// after "Options:"; the guide's section for the verb, under the heading that
// ends in "patchkit VERB", names exactly those.
TEST_F(Patchkit, HelpAndGuideNameEveryOptionOfEveryVerb) {
    const std::string guide = ReadTextFile(VANTOREL_SOURCE_DIR "/docs/operating.md");
    const std::string tool = Run("--help").out;
    std::istringstream verbs(tool.substr(tool.find("Verbs:\n") + 7));
    for (std::string line; std::getline(verbs, line) && !line.empty();) {
        const std::string verb = line.substr(2, line.find(' ', 2) - 2);
        const std::string help = Run(verb + " --help").out;
        const std::set<std::string> options = OptionsNamed(help.substr(std::min(help.size(), help.find("\nOptions:"))));
        const std::string heading = "patchkit " + verb + "\n";
        size_t at = guide.find(heading);
        while (at != std::string::npos && guide[guide.rfind('\n', at) + 1] != '#') at = guide.find(heading, at + 1);
        ASSERT_NE(at, std::string::npos) << verb << ": the guide has no section";
        const std::set<std::string> guided = OptionsNamed(guide.substr(at, guide.find("\n#", at) - at));
        std::set<std::string> named = OptionsNamed(help);
        named.insert(guided.begin(), guided.end());
        for (const std::string& option : options) {
            EXPECT_EQ(guided.count(option), 1u) << verb << ": the guide omits " << option;
            named.erase(option);
        }
        EXPECT_TRUE(named.empty()) << verb << " names " << *named.begin() << ", which it does not take";
    }
}

TEST_F(Patchkit, WrongUsageIsOneLineAndExitTwo) {
    const char* commands[] = {"", "frobnicate x", "encipher only-one", "decipher a b c",
                              "digest", "list", "list a b", "pack --bogus a b",
                              "decipher --key 1,2,3 a b", "decipher --key 1,2,3,4,5,6 a b",
                              "decipher --key 1,2,3,4,0x100000000 a b", "decipher --key 1,2,,4,5 a b",
                              "decipher --key -1,2,3,4,5 a b", "decipher a b --key",
                              "pack --key 1,2,3,4,5 out.pak .",
                              "keygen --public", "keygen --password x --public p --secret s",
                              "sign --server-root r --secret-key k extra", "resign --expires",
                              "sign --key 1,2,3,4,5 --server-root r --secret-key k",
                              "delta a b", "apply a b c d", "delta --level 0 a b c", "delta --level 6x a b c",
                              "delta --source-window 0 a b c", "delta --source-window 99999 a b c",
                              "delta --level +3 a b c", "delta --source-window ' 8' a b c",
                              "apply --level 3 a b c", "delta --format zstd a b c"};
    for (const char* command : commands) {
        const Result r = Run(command);
        EXPECT_EQ(r.exit, 2) << command;
        EXPECT_EQ(Lines(r.err), 1u) << command << ": " << r.err;
        EXPECT_EQ(r.err.rfind("patchkit", 0), 0u) << command;
    }
}

TEST_F(Patchkit, EncipherDecipherRoundTrip) {
    Write("plain.bin", kBinary);
    for (const char* key : {"", "--key 1,2,3,4,5 ", "--key 0xffffffff,0,7,8,9 "}) {
        ASSERT_EQ(Run(std::string("encipher ") + key + "plain.bin enc.bin").exit, 0) << key;
        const std::string enciphered = Read("enc.bin");
        EXPECT_EQ(enciphered.find("line one"), std::string::npos) << key;
        ASSERT_EQ(Run(std::string("decipher ") + key + "enc.bin back.bin").exit, 0) << key;
        EXPECT_EQ(Read("back.bin"), kBinary) << key;
    }
}

TEST_F(Patchkit, FailuresAreOneLineAndLeaveNoOutput) {
    Write("plain.txt", "HomePage=x\n");
    ASSERT_EQ(Run("encipher plain.txt enc.bin").exit, 0);
    const std::string enc = Read("enc.bin");
    Write("truncated.bin", enc.substr(0, enc.size() / 2));
    std::string flipped = enc;
    flipped[flipped.size() - 1] ^= 0x01;
    Write("flipped.bin", flipped);
    Write("garbage.pak", "PK\x03\x04 this is not a package");
    Write("a.txt", "a");
    std::string older;
    for (int i = 0; i < 3000; ++i) older += std::to_string(i * 7919) + "\n";
    Write("b.txt", older + "more");
    Write("older.txt", older);
    ASSERT_EQ(Run("delta older.txt b.txt b.delta").exit, 0);
    Write("cut.delta", Read("b.delta").substr(0, 12));
    ASSERT_EQ(Run("delta --format bsdiff older.txt b.txt b.bsdiff").exit, 0);
    Write("cut.bsdiff", Read("b.bsdiff").substr(0, Read("b.bsdiff").size() / 2));

    struct Case {
        const char* command;
        const char* expectInError;
    };
    const Case cases[] = {
        {"encipher missing.txt out.bin", "cannot open missing.txt"},
        {"decipher missing.bin out.bin", "cannot open missing.bin"},
        {"decipher plain.txt out.bin", "cannot be deciphered"},
        {"decipher --key 1,2,3,4,5 enc.bin out.bin", "cannot be deciphered"},
        {"decipher truncated.bin out.bin", "cannot be deciphered"},
        {"decipher flipped.bin out.bin", "cannot be deciphered"},
        {"list garbage.pak", "garbage.pak"},
        {"list missing.pak", "missing.pak"},
        {"extract garbage.pak out.bin", "garbage.pak"},
        {"pack out.bin no-such-folder", "no-such-folder"},
        {"digest missing.txt", "cannot read missing.txt"},
        {"encipher plain.txt no-such-folder/out.bin", "cannot write"},
        {"delta missing.txt b.txt out.delta", "cannot read the old file"},
        {"delta a.txt missing.txt out.delta", "cannot read the new file"},
        {"delta a.txt b.txt no-such-folder/out.delta", "cannot create"},
        {"apply missing.txt b.delta out.bin", "cannot read the old file"},
        {"apply a.txt missing.delta out.bin", "cannot read the delta"},
        {"apply a.txt plain.txt out.bin", "not a VCDIFF delta"},
        {"apply a.txt cut.delta out.bin", "cut short"},
        {"apply a.txt b.delta out.bin", "old file"},
        {"delta --format bsdiff missing.txt b.txt out.delta", "cannot read the old file"},
        {"delta --format best a.txt b.txt no-such-folder/out.delta", "cannot create"},
        {"apply older.txt cut.bsdiff out.bin", "damaged delta"},
        {"apply a.txt b.bsdiff out.bin", "outside the old file"},
    };
    const std::set<std::string> before = Names();
    for (const Case& c : cases) {
        const Result r = Run(c.command);
        EXPECT_EQ(r.exit, 1) << c.command;
        EXPECT_EQ(Lines(r.err), 1u) << c.command << ": " << r.err;
        EXPECT_NE(r.err.find(c.expectInError), std::string::npos) << c.command << ": " << r.err;
        // Neither the output nor a temporary file of it is left behind.
        EXPECT_EQ(Names(), before) << c.command;
    }
}

TEST_F(Patchkit, DeltaApplyRoundTripAlsoInPlace) {
    const std::string old = kBinary + std::string(100000, 'x') + kBinary;
    const std::string next = kBinary + std::string(90000, 'x') + "changed" + kBinary;
    Write("old.bin", old);
    Write("new.bin", next);
    const Result made = Run("delta --level 9 --source-window 8 old.bin new.bin d.vcdiff");
    ASSERT_EQ(made.exit, 0) << made.err;
    EXPECT_NE(made.out.find("d.vcdiff: "), std::string::npos) << made.out;
    ASSERT_EQ(Run("apply old.bin d.vcdiff out.bin").exit, 0);
    EXPECT_TRUE(Read("out.bin") == next);
    ASSERT_EQ(Run("apply old.bin d.vcdiff old.bin").exit, 0);
    EXPECT_TRUE(Read("old.bin") == next);
    EXPECT_EQ(Names(), (std::set<std::string>{"d.vcdiff", "new.bin", "old.bin", "out.bin"}));
}

TEST_F(Patchkit, LinksAndDevicesAreWrittenThroughNeverReplaced) {
    Write("plain.bin", kBinary);
    ASSERT_EQ(Run("encipher plain.bin enc.bin").exit, 0);
    ASSERT_TRUE(RunShellOk("cd '" + m_dir.Path() + "' && ln -s target.bin file.link && "
                           "ln -s /proc/self/fd/1 stdout.link"));
    const struct {
        const char* command;
        const char* link;      // must still be a link afterwards
        const char* readBack;  // file that must hold the plain content; null: standard output
    } cases[] = {
        {"decipher enc.bin file.link", "file.link", "target.bin"},
        {"decipher enc.bin stdout.link", "stdout.link", nullptr},
        {"decipher enc.bin -", nullptr, nullptr},
    };
    for (const auto& c : cases) {
        const Result r = Run(c.command);
        ASSERT_EQ(r.exit, 0) << c.command << ": " << r.err;
        EXPECT_EQ(c.readBack ? Read(c.readBack) : r.out, kBinary) << c.command;
        if (c.link) {
            EXPECT_TRUE(RunShellOk("test -L '" + Path(c.link) + "'")) << c.command;
        }
    }
    ASSERT_EQ(Run("encipher plain.bin file.link").exit, 0);
    ASSERT_EQ(Run("decipher target.bin back.bin").exit, 0);
    EXPECT_EQ(Read("back.bin"), kBinary);

    // A member never goes through a link out of the folder it is unpacked to.
    ASSERT_TRUE(RunShellOk("mkdir -p '" + Path("tree/sub") + "' '" + Path("out") + "' '" + Path("elsewhere") +
                           "' && ln -s ../elsewhere '" + Path("out/sub") + "'"));
    Write("tree/sub/b.bin", "b");
    ASSERT_EQ(Run("pack game.pak tree").exit, 0);
    const Result refused = Run("extract game.pak out");
    EXPECT_EQ(refused.exit, 1);
    EXPECT_NE(refused.err.find("out/sub is a link"), std::string::npos) << refused.err;
    EXPECT_EQ(refused.err.find('\\'), std::string::npos) << "one kind of separator: " << refused.err;
    EXPECT_FALSE(Exists("elsewhere/b.bin"));
}

TEST_F(Patchkit, PackListExtractRoundTrip) {
    ASSERT_TRUE(RunShellOk("mkdir -p '" + Path("tree/sub/deeper") + "'"));
    Write("tree/a.txt", "alpha");
    Write("tree/sub/b.bin", kBinary);
    Write("tree/sub/deeper/中文.txt", std::string(100000, 'z'));

    ASSERT_EQ(Run("pack game.pak tree").exit, 0);
    const Result list = Run("list game.pak");
    ASSERT_EQ(list.exit, 0) << list.err;
    EXPECT_EQ(list.out, "a.txt\t5\nsub\\b.bin\t20\nsub\\deeper\\中文.txt\t100000\n");
    // Info-ZIP accepts the package.
    EXPECT_TRUE(RunShellOk("unzip -tqq '" + Path("game.pak") + "' >/dev/null 2>&1"));

    ASSERT_EQ(Run("extract game.pak out").exit, 0);
    EXPECT_EQ(Read("out/a.txt"), "alpha");
    EXPECT_EQ(Read("out/sub/b.bin"), kBinary);
    EXPECT_EQ(Read("out/sub/deeper/中文.txt"), std::string(100000, 'z'));
}

TEST_F(Patchkit, PackIntoTheFolderItPacksLeavesItselfOut) {
    ASSERT_TRUE(RunShellOk("mkdir -p '" + Path("tree") + "'"));
    Write("tree/a.txt", "alpha");
    ASSERT_EQ(Run("pack tree/self.pak tree").exit, 0);
    ASSERT_EQ(Run("pack tree/self.pak tree").exit, 0);  // the old package is there now
    EXPECT_EQ(Run("list tree/self.pak").out, "a.txt\t5\n");
}

TEST_F(Patchkit, DamagedOrHostilePackageIsRefused) {
    ASSERT_TRUE(RunShellOk("mkdir -p '" + Path("tree") + "'"));
    Write("tree/a.txt", std::string(5000, 'q'));
    ASSERT_EQ(Run("pack good.pak tree").exit, 0);
    std::string pak = Read("good.pak");
    // The first member's data follows its 30-byte local header, name and extra field.
    const size_t data = 30 + static_cast<unsigned char>(pak[26]) + static_cast<unsigned char>(pak[28]);
    pak[data + 2] ^= 0x55;
    Write("damaged.pak", pak);
    Write("truncated.pak", Read("good.pak").substr(0, Read("good.pak").size() - 10));
    ASSERT_TRUE(RunShellOk("cd '" + m_dir.Path() + "' && /usr/bin/python3 -c \"import zipfile; "
                           "z = zipfile.ZipFile('evil.pak', 'w'); z.writestr('ok.txt', 'ok'); "
                           "z.writestr('../evil.txt', 'x'); z.close()\""));

    struct Case {
        const char* command;
        const char* leftOut;  // must not exist afterwards
    };
    const Case cases[] = {
        {"extract damaged.pak out1", "out1/a.txt"},
        {"extract truncated.pak out2", "out2/a.txt"},
        {"extract evil.pak out3/inner", "out3/inner/ok.txt"},
    };
    for (const Case& c : cases) {
        const Result r = Run(c.command);
        EXPECT_EQ(r.exit, 1) << c.command;
        EXPECT_EQ(Lines(r.err), 1u) << c.command << ": " << r.err;
        EXPECT_FALSE(Exists(c.leftOut)) << c.command;
    }
    EXPECT_FALSE(Exists("out3/evil.txt"));
}

TEST_F(Patchkit, DigestMatchesMd5sum) {
    Write("a.bin", kBinary);
    Write("empty.bin", "");
    const Result r = Run("digest a.bin empty.bin");
    ASSERT_EQ(r.exit, 0) << r.err;
    ASSERT_TRUE(RunShellOk("cd '" + m_dir.Path() + "' && md5sum a.bin empty.bin > md5.txt"));
    EXPECT_EQ(r.out, Read("md5.txt"));

    const Result partly = Run("digest a.bin missing.bin empty.bin");
    EXPECT_EQ(partly.exit, 1);
    EXPECT_EQ(Lines(partly.out), 2u);
    EXPECT_EQ(Lines(partly.err), 1u);
}

}  // namespace
