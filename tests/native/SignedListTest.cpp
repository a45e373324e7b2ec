// Signed update sets: a launcher with a public key installs only what the key's holder signed, and
// vandrel-publish signs, keeps its keys private and checks signatures as launchers do.
#include "support/Hex.h"
#include "support/ListSignature.h"
#include "support/Misc.h"
#include "tests/native/UpdateFixture.h"
#include "tools/publish/PublishCommandLine.h"
#include "tools/publish/PublishSigning.h"

#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <sstream>

using namespace testutil;
namespace fs = std::filesystem;

namespace {

std::string Native(const std::string& path) { return ReplaceAll(path, "\\", "/"); }

// Every file under folder with its content.
std::map<std::string, std::string> Snapshot(const std::string& folder) {
    std::map<std::string, std::string> files;
    for (const auto& item : fs::recursive_directory_iterator(Native(folder)))
        files[item.path().string()] = item.is_regular_file() ? ReadBytes(item.path().string()) : "<folder>";
    return files;
}

class SignedList : public UpdateFixture {
protected:
    SignedList() {
        GenerateListKeyPair(&publicKey, &secretKey);
        beforeRun = [this](GFilesThread& worker) { worker.ListPublicKey = ToHex(publicKey.data(), publicKey.size()); };
        WriteBytes(Local("data.txt"), "old");
    }
    void PublishSigned(int revision = 7) {
        Publish({{"data.txt", "new"}}, revision);
        publish::WriteListSignature(served.Path(), secretKey);
    }
    std::string Signature() const { return ReadBytes(served / "files.lst.bz2.sig"); }

    TListPublicKey publicKey{};
    TListSecretKey secretKey{};
};

} // namespace

TEST_F(SignedList, InstallsASetSignedWithItsKey) {
    PublishSigned();
    RunUpdate();
    EXPECT_EQ(ClosingStatus(), "Все файлы обновлены");
    EXPECT_EQ(ReadBytes(Local("data.txt")), "new");
    EXPECT_EQ(window.revisions, std::vector<std::string>{"7"});
    EXPECT_FALSE(platform::IsFile(Local("files.lst.bz2.sig")));
    // The same revision again is no replay.
    RunUpdate();
    EXPECT_EQ(ClosingStatus(), "");
}

TEST_F(SignedList, RefusesAnyOtherSetBeforeAnyOtherRequestOrWrite) {
    TListPublicKey otherPublic{};
    TListSecretKey otherSecret{};
    GenerateListKeyPair(&otherPublic, &otherSecret);
    const std::vector<std::pair<std::string, std::function<void()>>> attacks = {
        {"a tampered list",
         [&] {
             PublishSigned();
             Publish({{"data.txt", "evil"}});
         }},
        {"a tampered signature",
         [&] {
             PublishSigned();
             std::string text = Signature();
             text[40] = text[40] == '0' ? '1' : '0';
             WriteBytes(served / "files.lst.bz2.sig", text);
         }},
        {"a truncated signature",
         [&] {
             PublishSigned();
             WriteBytes(served / "files.lst.bz2.sig", Signature().substr(0, 90));
         }},
        {"no signature", [&] { Publish({{"data.txt", "new"}}); }},
        {"a signature by another key",
         [&] {
             Publish({{"data.txt", "new"}});
             publish::WriteListSignature(served.Path(), otherSecret);
         }},
        {"an older signed revision",
         [&] {
             PublishSigned(7);
             WriteBytes(Local("_settings.ini"), "[main]\r\nAtRevision=8\r\n");
         }},
        {"a signature that never ends",
         [&] {
             PublishSigned();
             server.Misbehave("files.lst.bz2.sig", TestHttpServer::Misbehaviour::Endless);
         }},
    };
    for (const auto& [name, attack] : attacks) {
        SCOPED_TRACE(name);
        server.Behave("files.lst.bz2.sig");
        platform::RemoveFile(Local("_settings.ini"));
        platform::RemoveFile(served / "files.lst.bz2.sig");
        attack();
        const auto before = Snapshot(client.Path());
        server.ClearRequests();
        RunUpdate();
        EXPECT_EQ(ClosingStatus(), "Обновление неудалось");
        // The list, then its signature: the one named by the list's bytes, then the one beside it.
        const std::vector<std::string> requests = server.Requests();
        ASSERT_EQ(requests.size(), 3u);
        EXPECT_EQ(requests[0], "files.lst.bz2");
        EXPECT_EQ(requests[1].compare(0, 16, "vandrel-objects/"), 0) << requests[1];
        EXPECT_EQ(requests[1].substr(requests[1].size() - 4), ".sig") << requests[1];
        EXPECT_EQ(requests[2], "files.lst.bz2.sig");
        EXPECT_EQ(Snapshot(client.Path()), before); // no list, signature or game file left or changed
        EXPECT_TRUE(window.revisions.empty());
        EXPECT_TRUE(window.ImgBtn1Enabled && window.ImgBtn2Enabled);
    }
    // A launcher built without a key takes the unsigned set exactly as before.
    beforeRun = nullptr;
    platform::RemoveFile(served / "files.lst.bz2.sig");
    Publish({{"data.txt", "new"}});
    server.ClearRequests();
    RunUpdate();
    EXPECT_EQ(ReadBytes(Local("data.txt")), "new");
    EXPECT_EQ(server.Requests().front(), "files.lst.bz2");
    EXPECT_EQ(server.Requests().size(), 2u); // the list and the one payload
}

TEST(PublishSigning, KeygenSignAndVerifyFindEveryBrokenSet) {
    TempDir keys, client, served, install;
    const auto run = [](std::vector<std::string> args, std::string* output = nullptr) {
        std::ostringstream out, err;
        const int code = publish::RunCommandLine(args, out, err, false);
        if (output) *output = out.str() + err.str();
        return code;
    };
    const std::string keyDir = Native(keys.Path()) + "/k";
    ASSERT_EQ(run({"--keygen", keyDir}), 0);
    struct stat secret {};
    ASSERT_EQ(stat((keyDir + "/list-signing.key").c_str(), &secret), 0);
    EXPECT_EQ(secret.st_mode & 0777, 0600u);
    std::string output;
    EXPECT_EQ(run({"--keygen", keyDir}, &output), 1); // never replaces a key pair
    EXPECT_NE(output.find("already"), std::string::npos);

    WriteBytes(client / "a.txt", "alpha");
    const std::string pub = keyDir + "/list-signing.pub";
    ASSERT_EQ(run({Native(client.Path()), Native(served.Path()), "--sign", keyDir + "/list-signing.key"}), 0);
    TestHttpServer server(served.Path());
    EXPECT_EQ(run({"--verify", server.BaseUrl(), "--public-key", pub}, &output), 0) << output;

    // The signature is made after the list is in place: a republish with a change signs the new list.
    WriteBytes(client / "a.txt", "alpha 2");
    ASSERT_EQ(run({Native(client.Path()), Native(served.Path()), "--sign", keyDir + "/list-signing.key"}), 0);
    EXPECT_EQ(run({"--verify", server.BaseUrl(), Native(install.Path()), "--public-key", pub}, &output), 0) << output;
    // An install at a later revision refuses this one as played back.
    WriteBytes(install / "_settings.ini", "[main]\r\nAtRevision=9\r\n");
    EXPECT_EQ(run({"--verify", server.BaseUrl(), Native(install.Path()), "--public-key", pub}, &output), 1);
    EXPECT_NE(output.find("older than revision 9"), std::string::npos) << output;

    // Published without --sign over a signed set, the earlier signature goes, and the tool says so.
    ASSERT_EQ(run({Native(client.Path()), Native(served.Path())}, &output), 0);
    EXPECT_FALSE(platform::IsFile(served / "files.lst.bz2.sig"));
    EXPECT_NE(output.find("removed the signature"), std::string::npos) << output;
    ASSERT_EQ(run({Native(client.Path()), Native(served.Path()), "--sign", keyDir + "/list-signing.key"}), 0);

    const std::string signature = ReadBytes(served / "files.lst.bz2.sig");
    WriteBytes(served / "files.lst.bz2.sig", signature.substr(0, 50));
    EXPECT_EQ(run({"--verify", server.BaseUrl(), "--public-key", pub}, &output), 1);
    EXPECT_NE(output.find("not a signature file"), std::string::npos) << output;
    platform::RemoveFile(served / "files.lst.bz2.sig");
    EXPECT_EQ(run({"--verify", server.BaseUrl(), "--public-key", pub}, &output), 1);
    EXPECT_NE(output.find("missing or not a signature file"), std::string::npos) << output;
    WriteBytes(served / "files.lst.bz2.sig", signature);
    WriteBytes(served / "files.lst.bz2", ReadBytes(served / "files.lst.bz2") + "x");
    EXPECT_EQ(run({"--verify", server.BaseUrl(), "--public-key", pub}, &output), 1);
    EXPECT_NE(output.find("does not match"), std::string::npos) << output;
    // A damaged secret key is refused before anything is published.
    std::string key = ReadBytes(keyDir + "/list-signing.key");
    key[40] = key[40] == '0' ? '1' : '0';
    WriteBytes(keys / "bad.key", key);
    EXPECT_EQ(run({Native(client.Path()), Native(served.Path()), "--sign", keys / "bad.key"}, &output), 1);
}
