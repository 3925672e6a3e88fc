// The signing verbs of the patchkit program on real release trees, checked
// by the minisign tool and by the launcher's own signature check.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <string>

#include "support/test_support.h"
#include "trust/minisign.h"
#include "trust/minisign_secret_key.h"

namespace {

struct Result {
    int exit = -1;
    std::string output;  // stdout and stderr together
};

// A release tree with two listed versions of which one has a folder, and an
// unprotected key pair of patchkit's in k.pub / k.key.
class PatchkitSign : public testing::Test {
protected:
    void SetUp() override { MakeTree(); }
    void MakeTree() {
        ASSERT_EQ(Shell("mkdir -p root/1.0.0.2 && printf '1.0.0.1\\t0\\t0\\n1.0.0.2\\t0\\t0\\n' >root/versionlist.data"
                        " && printf 'PK' >root/1.0.0.2/data1.pak && printf 'list' >'root/1.0.0.2/up list.data'"
                        " && $PK keygen --no-password --public k.pub --secret k.key")
                      .exit,
                  0);
    }
    // Runs a shell command in the test folder, $PK naming the patchkit program.
    Result Shell(const std::string& command) {
        const std::string output = m_dir.File("output.txt");
        const int status = RunShell("cd '" + m_dir.Path() + "' && export PK='" PATCHKIT_PATH "' && (" +
                                    command + ") >'" + output + "' 2>&1");
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadTextFile(output)};
    }
    // k.key protected by password at a low scrypt cost, so that the rows
    // about passwords take no time.
    void WriteProtectedKey(const std::string& password) {
        MinisignSecretKey key;
        std::string text;
        ASSERT_TRUE(GenerateMinisignKey(&key));
        ASSERT_TRUE(FormatMinisignSecretKey(key, &password, ScryptCost{32768, 16u << 20}, &text));
        WriteTextFile(m_dir.File("k.key"), text);
        WriteTextFile(m_dir.File("k.pub"), FormatMinisignPublicKey(PublicKeyOf(key)));
    }
    // Our own check of a signed file, with the public key in pub.
    SignatureCheck Check(const std::string& file, const std::string& pub, std::string* comment) {
        MinisignPublicKey key;
        EXPECT_TRUE(ParseMinisignPublicKey(ReadTextFile(m_dir.File(pub)), &key)) << pub;
        return CheckMinisignSignature(ReadTextFile(m_dir.File(file)),
                                      ReadTextFile(m_dir.File(file + ".minisig")), {key}, comment);
    }

    TempDir m_dir;
};

}  // namespace

TEST_F(PatchkitSign, KeysAndSignaturesWorkBothWaysWithTheMinisignTool) {
    ASSERT_EQ(Shell("minisign -v").exit, 0) << "minisign is one of ./run setup's packages";
    const std::string patchkitSigns = "$PK sign --server-root root --secret-key m.key";
    const std::string minisignSigns =
        "minisign -S -W -s m.key -m root/versionlist.data -t 'vantorel serial=5 expires=9' && minisign -S"
        " -W -s m.key -m root/1.0.0.2/release.manifest -t 'vantorel version=1.0.0.2 serial=5'";
    const struct {
        const char* what;
        std::string makeKey;
        std::string sign;
    } rows[] = {
        {"minisign's key and signatures", "minisign -G -W -p m.pub -s m.key", minisignSigns},
        {"our unprotected key", "$PK keygen --no-password --public m.pub --secret m.key", patchkitSigns},
        {"minisign signing with our key", "$PK keygen --no-password --public m.pub --secret m.key",
         minisignSigns},
        {"our protected key", "VANTOREL_SIGN_PASSWORD=pw1 $PK keygen --public m.pub --secret m.key",
         "VANTOREL_SIGN_PASSWORD=pw1 " + patchkitSigns},
        {"minisign's protected key", "printf 'pw2\\npw2\\n' | minisign -G -p m.pub -s m.key",
         "VANTOREL_SIGN_PASSWORD=pw2 " + patchkitSigns},
    };
    for (const auto& row : rows) {
        ASSERT_EQ(Shell("rm -f m.pub m.key && printf x >root/1.0.0.2/release.manifest").exit, 0);
        const Result made = Shell(row.makeKey);
        if (made.exit != 0 && row.makeKey.find("printf") == 0) {
            std::printf("note: skipped \"%s\": minisign -G does not read a password from standard input here\n", row.what);
            continue;
        }
        ASSERT_EQ(made.exit, 0) << row.what << ": " << made.output;
        const Result signedTree = Shell(row.sign);
        ASSERT_EQ(signedTree.exit, 0) << row.what << ": " << signedTree.output;
        for (const char* file : {"root/versionlist.data", "root/1.0.0.2/release.manifest"}) {
            const Result verified = Shell(std::string("minisign -V -q -p m.pub -m ") + file);
            EXPECT_EQ(verified.exit, 0) << row.what << ", " << file << ": " << verified.output;
            std::string comment;
            EXPECT_EQ(Check(file, "m.pub", &comment), SignatureCheck::kOk) << row.what << ", " << file;
            EXPECT_EQ(comment.rfind("vantorel ", 0), 0u) << comment;
        }
    }
}

TEST_F(PatchkitSign, SignResignAndKeygenDoWhatTheOperatorAsked) {
    const std::string sign = "$PK sign --server-root root --secret-key k.key";
    const std::string resign = "$PK resign --server-root root --secret-key k.key";
    const std::string keep = "cp root/versionlist.data.minisig l.kept && cp root/1.0.0.2/release.manifest.minisig m.kept";
    const std::string noSignature = "! test -e root/versionlist.data.minisig";
    // The list's lines: 1.0.0.1 (no folder) as it was, 1.0.0.2 pinned to its manifest, and signed so.
    const std::string pinned = "printf '1.0.0.1\\t0\\t0\\n1.0.0.2\\t0\\t0\\t%s\\n' $(sha256sum root/1.0.0.2/release.manifest"
                               " | cut -c1-64) | cmp -s - root/versionlist.data && minisign -Vq -p k.pub -m root/versionlist.data";
    const std::string terminal = "/usr/bin/python3 " VANTOREL_SOURCE_DIR "/tests/tools/posix/on_terminal.py ";
    const struct {
        const char* what;
        bool protectedKey;  // k.key needs the password "right"
        std::string prepare;
        std::string command;
        int exit;
        const char* inOutput;
        std::string holds;  // a shell condition on the files afterwards
    } rows[] = {
        {"sign", false, "", sign, 0, "note: 1.0.0.1 is listed but has no folder",
         "grep -q ' 2 data1.pak' root/1.0.0.2/release.manifest && grep -q ' 4 up list.data' root/1.0.0.2/release.manifest"
         " && ! grep -q minisig root/1.0.0.2/release.manifest && ! test -e root/1.0.0.1"
         " && test $(sed -n 's/.*serial=\\([0-9]*\\) .*/\\1/p' root/versionlist.data.minisig) -ge $(($(date +%s) - 600))"
         " && " + pinned},
        {"resign pins a tree signed before pins", false, sign + " && printf '1.0.0.1\\t0\\t0\\n1.0.0.2\\t0\\t0\\n' >root/versionlist.data",
         resign, 0, "signed versionlist.data", pinned},
        {"serial grows past the tree's largest", false,
         "printf x >root/1.0.0.2/release.manifest && minisign -G -W -p m.pub -s m.key >/dev/null && minisign -S -W -s m.key"
         " -m root/1.0.0.2/release.manifest -t 'vantorel version=1.0.0.2 serial=99999999999'",
         sign, 0, "serial 100000000000,", "grep -q 'version=1.0.0.2 serial=100000000000$' root/1.0.0.2/release.manifest.minisig"},
        {"leftover of an interrupted run", false, "printf x >root/1.0.0.2/release.manifest.signing", sign, 0, "signed",
         "! grep -q signing root/1.0.0.2/release.manifest"},
        {"resign renews only the list", false, sign + " && " + keep, resign, 0, "signed versionlist.data",
         "cmp -s root/1.0.0.2/release.manifest.minisig m.kept && ! cmp -s root/versionlist.data.minisig l.kept"},
        {"resign of a tree never signed", false, "", resign, 1, "run patchkit sign, not resign", noSignature},
        {"resign after a package changed", false, sign + " && " + keep + " && printf K >>root/1.0.0.2/data1.pak", resign, 1,
         "data1.pak changed since", "cmp -s root/versionlist.data.minisig l.kept"},
        {"resign after a file was added", false, sign + " && " + keep + " && printf K >root/1.0.0.2/new.pak", resign, 1,
         "new.pak is not in the signed manifest", "cmp -s root/versionlist.data.minisig l.kept"},
        {"a folder inside a version folder", false, "mkdir root/1.0.0.2/sub", sign, 1, "only plain files", noSignature},
        {"no version list", false, "rm root/versionlist.data", sign, 1, "versionlist.data", noSignature},
        {"expiry of zero days", false, "", sign + " --expires 0", 1, "--expires takes whole days", noSignature},
        {"expiry beyond ten years", false, "", sign + " --expires 3651", 1, "--expires takes whole days", noSignature},
        {"expiry not a number", false, "", sign + " --expires 7d", 1, "--expires takes whole days", noSignature},
        {"missing secret key", false, "rm k.key", sign, 1, "cannot read the secret key", noSignature},
        {"a public key for a secret key", false, "", "$PK sign --server-root root --secret-key k.pub", 1, "not a minisign secret key", noSignature},
        {"wrong password", true, "", "VANTOREL_SIGN_PASSWORD=wrong " + sign, 1, "wrong password", noSignature},
        {"protected key without a terminal", true, "", "setsid -w " + sign + " </dev/null", 1,
         "no terminal to ask for the password", noSignature},
        {"keygen keeps an existing secret key", false, "cp k.key k.kept", "$PK keygen --no-password --public k.pub --secret k.key",
         1, "--force replaces it", "cmp -s k.key k.kept"},
        {"keygen --force replaces it", false, "cp k.key k.kept", "$PK keygen --force --no-password --public n.pub --secret k.key",
         0, "not protected", "! cmp -s k.key k.kept && test \"$(stat -c %a k.key)\" = 600"},
        {"keygen asks twice on the terminal, unseen", false, "rm k.key",
         terminal + "typed1 typed1 -- $PK keygen --public k.pub --secret k.key | tee seen.txt", 0,
         "Password for k.key: \r\nThe same again: \r\n", "! grep -q typed1 seen.txt && " + terminal +
         "typed1 -- " + sign + " | grep -q 'Password of k.key: '"},
        {"keygen with two different passwords", false, "rm k.key",
         terminal + "typed1 typed2 -- $PK keygen --public k.pub --secret k.key", 1,
         "the two passwords differ", "! test -e k.key"},
        {"keygen refuses an empty password", false, "rm k.key", "VANTOREL_SIGN_PASSWORD= $PK keygen --public k.pub --secret k.key",
         1, "--no-password writes an unprotected key", "! test -e k.key"},
        {"release --sign", false, "mkdir old new && printf a >new/a.txt",
         "$PK release --from old --to new --version 1.0.0.3 --server-root rel --sign k.key --expires 9", 0,
         "expires in 9 days", "minisign -Vq -p k.pub -m rel/versionlist.data && minisign -Vq -p k.pub -m rel/1.0.0.3/release.manifest"
         " && grep -q \"$(sha256sum rel/1.0.0.3/release.manifest | cut -c1-64)\" rel/versionlist.data"},
        {"release --sign with a wrong password", true, "mkdir old new && printf a >new/a.txt",
         "VANTOREL_SIGN_PASSWORD=wrong $PK release --from old --to new --version 1.0.0.3 --server-root rel --sign k.key", 1,
         "wrong password", "! test -e rel/1.0.0.3 && ! test -e rel/versionlist.data"},
    };
    for (const auto& row : rows) {
        ASSERT_EQ(Shell("rm -rf root rel old new *.kept k.* m.* n.pub seen.txt").exit, 0);
        MakeTree();  // a fresh tree and key for every row
        if (row.protectedKey) WriteProtectedKey("right");
        ASSERT_EQ(Shell(row.prepare.empty() ? "true" : row.prepare).exit, 0) << row.what;
        const Result r = Shell(row.command);
        EXPECT_EQ(r.exit, row.exit) << row.what << ": " << r.output;
        EXPECT_NE(r.output.find(row.inOutput), std::string::npos) << row.what << ": " << r.output;
        EXPECT_EQ(Shell(row.holds).exit, 0) << row.what << ": " << row.holds;
    }
}
