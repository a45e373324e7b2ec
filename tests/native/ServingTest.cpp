// Sets served at scale: objects that never change, mirrors that fail in every way a server can, runs
// that go on from a cut body, and the classic layout that launchers without objects still read.
#include "support/BZip2.h"
#include "support/LauncherNames.h"
#include "support/ListSignature.h"
#include "support/Misc.h"
#include "support/Objects.h"
#include "tests/native/UpdateFixture.h"
#include "tools/publish/Publish.h"
#include "tools/publish/PublishList.h"
#include "tools/publish/PublishSigning.h"
#include "tools/publish/PublishVerify.h"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <map>

using namespace testutil;
namespace fs = std::filesystem;

namespace {

const std::string kDone = "Все файлы обновлены";

std::string Native(const std::string& path) { return ReplaceAll(path, "\\", "/"); }

class Serving : public UpdateFixture {
protected:
    Serving() {
        options.clientDir = Native(source.Path());
        options.outDir = served.Path();
        // Faults that may pass are asked again after a short pause here, not half a second.
        policy.firstPauseMs = 10;
        beforeRun = [this](GFilesThread& worker) {
            worker.RetryPolicy = policy;
            if (aheadConnections) worker.AheadConnections = *aheadConnections;
        };
    }
    void Put(const std::string& relative, const std::string& content) {
        platform::MakeFolders(ExtractFilePath(source / relative));
        WriteBytes(source / relative, content);
        files[relative] = content;
    }
    void PublishSet() { publish::Publish(options); }
    void ExpectInstalled() {
        EXPECT_EQ(ClosingStatus(), kDone);
        for (const auto& [path, content] : files) EXPECT_EQ(ReadBytes(Local(path)), content) << path;
    }
    void ForgetClient() {
        for (const auto& [path, content] : files) platform::RemoveFile(Local(path));
    }
    static size_t Starting(const std::vector<std::string>& requests, const std::string& prefix) {
        return std::count_if(requests.begin(), requests.end(),
                             [&](const std::string& request) { return request.compare(0, prefix.size(), prefix) == 0; });
    }
    std::string ObjectOf(const std::string& relative) {
        const publish::UpdateList list = *publish::ReadPublishedList(served.Path());
        const TFileObjects* objects = list.additions.ObjectsOf(Md5Hex(files.at(relative)));
        return served / names::ObjectStorePath(TObjectKind::Payload, objects->payload->id);
    }

    TempDir source;
    publish::PublishOptions options;
    std::map<std::string, std::string> files;
    std::optional<unsigned> aheadConnections;
    TRetryPolicy policy;
};

ino_t Inode(const std::string& path) {
    struct stat info {};
    stat(Native(path).c_str(), &info);
    return info.st_ino;
}

} // namespace

TEST_F(Serving, ASetWithObjectsInstallsFromThemAndThroughItsClassicNamesAlike) {
    Put("data\\big.pak", RandomBytes(700000, 1));
    Put("readme.txt", "the game");
    PublishSet();
    // The classic name beside the list is the object itself.
    EXPECT_EQ(Inode(served / "data\\big.pak.bz2"), Inode(ObjectOf("data\\big.pak")));

    RunUpdate();
    ExpectInstalled();
    const std::vector<std::string> requests = server.Requests();
    EXPECT_EQ(Starting(requests, "vandrel-objects/"), 2u);
    EXPECT_EQ(Starting(requests, "data/") + Starting(requests, "readme"), 0u);

    // A launcher that knows no objects reads the classic sections only: they alone still install.
    std::string list = ReadBytes(served / names::kListPayload);
    const std::string text = [&] {
        TMemoryStream packed(list), plain;
        UnpackStream(packed, plain);
        return plain.Bytes();
    }();
    PublishList(text.substr(0, text.find("[mirrors]") != std::string::npos ? text.find("[mirrors]") : text.find("[objects]")));
    ForgetClient();
    server.ClearRequests();
    RunUpdate();
    ExpectInstalled();
    EXPECT_EQ(Starting(server.Requests(), "vandrel-objects/"), 0u);
    EXPECT_EQ(Starting(server.Requests(), "data/big.pak.bz2"), 1u);
}

TEST_F(Serving, ObjectsStayWhileAKeptListNamesThemAndTheSignatureIsNamedByItsList) {
    TempDir keys;
    const std::string publicKey = publish::GenerateKeyFiles(Native(keys / "k"));
    options.signingKeyFile = Native(keys / "k\\list-signing.key");
    std::vector<std::string> objects;
    for (int revision = 1; revision <= 4; ++revision) {
        Put("a.dat", "version " + std::to_string(revision));
        PublishSet();
        objects.push_back(ObjectOf("a.dat"));
        // The list's signature under the list's own name, and the one beside it, both for this list.
        const std::string listBytes = ReadBytes(served / names::kListPayload);
        const std::string signature = served / names::ObjectStorePath(TObjectKind::Signature, ObjectIdOf(listBytes.data(), listBytes.size()));
        EXPECT_EQ(ReadBytes(signature), ReadBytes(served / names::kListSignature));
    }
    // The last two lists' payloads are there; the earlier ones went with their lists.
    EXPECT_FALSE(platform::IsFile(objects[0]));
    EXPECT_FALSE(platform::IsFile(objects[1]));
    EXPECT_TRUE(platform::IsFile(objects[2]));
    EXPECT_TRUE(platform::IsFile(objects[3]));
    // A longer memory keeps more.
    options.keep = 3;
    Put("a.dat", "version 5");
    PublishSet();
    Put("a.dat", "version 6");
    PublishSet();
    EXPECT_TRUE(platform::IsFile(objects[3]));
    beforeRun = [&](GFilesThread& worker) { worker.ListPublicKey = publicKey; };
    RunUpdate();
    ExpectInstalled();
    const publish::VerifyReport report = publish::Verify(server.BaseUrl(), "", {}, publicKey);
    EXPECT_TRUE(report.problems.empty()) << report.problems[0];
}

TEST_F(Serving, EveryMirrorFaultFallsToTheNextSourceAndEveryFileIsRight) {
    Put("data\\big.pak", RandomBytes(600000, 2));
    Put("data\\small.txt", "small but listed");
    TestHttpServer mirror(served.Path());
    options.mirrors = {mirror.BaseUrl()};
    PublishSet();
    // A healthy mirror serves every object.
    RunUpdate();
    ExpectInstalled();
    EXPECT_EQ(Starting(mirror.Requests(), "vandrel-objects/"), 2u);
    EXPECT_EQ(Starting(server.Requests(), "vandrel-objects/"), 0u);

    const std::vector<std::pair<std::string, TestHttpServer::Misbehaviour>> faults = {
        {"503", TestHttpServer::Misbehaviour::ServerError},   {"404", TestHttpServer::Misbehaviour::ErrorPage},
        {"stall", TestHttpServer::Misbehaviour::Stall},       {"cut", TestHttpServer::Misbehaviour::CutBody},
        {"tampered", TestHttpServer::Misbehaviour::WrongBody}, {"endless", TestHttpServer::Misbehaviour::Endless},
    };
    // A stalled mirror costs each try the stall limit: here one second, tried twice.
    platform::SetHttpStallTimeout(1);
    policy.triesPerSource = 2;
    for (const auto& [name, fault] : faults) {
        SCOPED_TRACE(name);
        mirror.MisbehaveEverywhere(fault, RandomBytes(1000, 3));
        ForgetClient();
        server.ClearRequests();
        RunUpdate();
        ExpectInstalled();
        EXPECT_EQ(Starting(server.Requests(), "vandrel-objects/"), 2u) << "the update URL served them";
    }
    // A mirror that refuses connections, and every mirror down: the update URL serves.
    options.mirrors = {"http://127.0.0.1:1/", "http://127.0.0.1:1/second/"};
    Put("data\\small.txt", "small, changed");
    PublishSet();
    ForgetClient();
    RunUpdate();
    ExpectInstalled();
}

TEST_F(Serving, AMirrorThatFailedThreeRequestsIsPassedOverAndAHostileOneServesNothingThatIsUsed) {
    for (int i = 0; i < 6; ++i) Put("f" + std::to_string(i), RandomBytes(20000, 10 + i));
    TestHttpServer mirror(served.Path());
    mirror.MisbehaveEverywhere(TestHttpServer::Misbehaviour::ServerError);
    options.mirrors = {mirror.BaseUrl()};
    PublishSet();
    aheadConnections = 0; // one request at a time: the count is exact
    RunUpdate();
    ExpectInstalled();
    // Three requests, each tried four times, then never again in this run.
    EXPECT_EQ(mirror.Requests().size(), 12u);

    // Signed: a mirror that answers every request with other bytes of the right length changes nothing.
    TempDir keys;
    const std::string publicKey = publish::GenerateKeyFiles(Native(keys / "k"));
    options.signingKeyFile = Native(keys / "k\\list-signing.key");
    Put("f0", RandomBytes(20000, 99));
    PublishSet();
    mirror.MisbehaveEverywhere(TestHttpServer::Misbehaviour::WrongBody, Compress(RandomBytes(20000, 98)));
    beforeRun = [&](GFilesThread& worker) {
        worker.ListPublicKey = publicKey;
        worker.RetryPolicy = policy;
    };
    ForgetClient();
    RunUpdate();
    ExpectInstalled();
}

TEST_F(Serving, ABodyCutAgainAndAgainIsTakenUpWhereItBrokeOffInTheSameRun) {
    const std::string big = RandomBytes(900000, 4);
    Put("big.pak", big);
    PublishSet();
    const uint64_t payload = ReadBytes(served / "big.pak.bz2").size();
    server.CutEveryBody(3, 7, "vandrel-objects/");
    const uint64_t before = server.BytesSent();
    RunUpdate();
    ExpectInstalled();
    // Each retry asked only for the rest: the payload came once, and the list beside it.
    EXPECT_LE(server.BytesSent() - before, payload + 4096);
}
