// Patches from earlier versions: a rebuilt program comes at patch size to a player on a version the set
// has a patch from, and every way a patch can fail falls back to chunks or the payload in the same run.
#include "support/LauncherNames.h"
#include "support/Misc.h"
#include "support/Objects.h"
#include "support/Patch.h"
#include "tests/native/UpdateFixture.h"
#include "tools/publish/Publish.h"
#include "tools/publish/PublishList.h"
#include "tools/publish/PublishSigning.h"

#include <algorithm>
#include <unistd.h>

using namespace testutil;

namespace {

const std::string kDone = "Все файлы обновлены";

std::string Build(int version) { return RebuiltProgram(version); }

class Patches : public UpdateFixture {
protected:
    Patches() {
        options.clientDir = ReplaceAll(source.Path(), "\\", "/");
        options.outDir = served.Path();
        options.chunks = true;
        options.chunkMinFile = 1 << 20;
        beforeRun = [](GFilesThread& worker) { worker.RetryPolicy.firstPauseMs = 10; };
    }
    void Release(int version) {
        WriteBytes(source / "game.exe", Build(version));
        publish::Publish(options);
    }
    const TFileObjects& Objects(int version) {
        static publish::UpdateList list;
        list = *publish::ReadPublishedList(served.Path());
        return *list.additions.ObjectsOf(Md5Hex(Build(version)));
    }
    size_t Requested(const std::string& prefix, const std::string& suffix = "") const {
        const std::vector<std::string> requests = server.Requests();
        return std::count_if(requests.begin(), requests.end(), [&](const std::string& request) {
            return request.compare(0, prefix.size(), prefix) == 0 && EndsWith(request, suffix);
        });
    }
    // The player's game at a version, and a run from there to the set's newest.
    void UpdateFrom(int version) {
        WriteBytes(Local("game.exe"), Build(version));
        server.ClearRequests();
        RunUpdate();
    }

    TempDir source;
    publish::PublishOptions options;
};

} // namespace

TEST_F(Patches, APlayerOneOrTwoVersionsBackFetchesOnlyThePatch) {
    options.keep = 3;
    options.patchFromRevisions = 2;
    Release(1);
    Release(2);
    Release(3);
    ASSERT_EQ(Objects(3).patches.size(), 2u);
    for (int from : {2, 1}) {
        SCOPED_TRACE(from);
        UpdateFrom(from);
        EXPECT_EQ(ClosingStatus(), kDone);
        EXPECT_EQ(ReadBytes(Local("game.exe")), Build(3));
        EXPECT_EQ(Requested("vandrel-objects/", ".patch"), 1u);
        EXPECT_EQ(Requested("vandrel-objects/", ".bz2") + Requested("vandrel-chunks/"), 0u);
        EXPECT_FALSE(platform::IsFolder(Local(names::kStagingFolder)));
    }
    // A version the set has no patch from takes chunks or the payload, whichever costs less.
    UpdateFrom(7);
    EXPECT_EQ(ClosingStatus(), kDone);
    EXPECT_EQ(ReadBytes(Local("game.exe")), Build(3));
    EXPECT_EQ(Requested("vandrel-objects/", ".patch"), 0u);
}

TEST_F(Patches, EveryWayAPatchCanFailFallsBackInTheSameRun) {
    Release(1);
    Release(2);
    ASSERT_EQ(Objects(2).patches.size(), 1u);
    const TPatchRef patch = Objects(2).patches[0];
    const std::string object = served / names::ObjectStorePath(TObjectKind::Patch, patch.object.id);
    const std::string sound = ReadBytes(object);
    const std::string otherBase = MakePatch(Build(5).data(), Build(5).size(), Build(2).data(), Build(2).size(), 3);
    const std::vector<std::pair<std::string, std::string>> damage = {
        {"damaged", sound.substr(0, sound.size() / 2) + std::string(1, char(sound[sound.size() / 2] ^ 1)) +
                        sound.substr(sound.size() / 2 + 1)},
        {"truncated", sound.substr(0, sound.size() - 100)},
        {"made from another version", otherBase},
        {"missing", ""},
    };
    for (const auto& [name, bytes] : damage) {
        SCOPED_TRACE(name);
        if (bytes.empty())
            platform::RemoveFile(object);
        else
            WriteBytes(object, bytes);
        UpdateFrom(1);
        EXPECT_EQ(ClosingStatus(), kDone);
        EXPECT_EQ(ReadBytes(Local("game.exe")), Build(2));
        EXPECT_GE(Requested("vandrel-objects/", ".bz2") + Requested("vandrel-chunks/"), 1u);
        EXPECT_FALSE(platform::IsFile(Local(std::string("game.exe") + names::kUnpackSuffix)));
        WriteBytes(object, sound);
    }
    // A patch that decodes, checks out by its name, and makes another file than the list's: a list
    // that names another patch for this version (as an operator's mistake would).
    publish::UpdateList list = *publish::ReadPublishedList(served.Path());
    const TObjectRef wrong{ObjectIdOf(otherBase.data(), otherBase.size()), static_cast<int64_t>(otherBase.size())};
    WriteBytes(served / names::ObjectStorePath(TObjectKind::Patch, wrong.id), otherBase);
    list.additions.ObjectsFor(Md5Hex(Build(2))).patches = {{Md5Hex(Build(1)), wrong}};
    PublishList(publish::FormatList(list));
    UpdateFrom(1);
    EXPECT_EQ(ClosingStatus(), kDone);
    EXPECT_EQ(ReadBytes(Local("game.exe")), Build(2));
    EXPECT_EQ(Requested("vandrel-objects/", ".patch"), 1u);
}

TEST_F(Patches, AnOldFilePastTheLimitTakesNoPatchAndASignedSetUsesNoTamperedOne) {
    Release(1);
    Release(2);
    ASSERT_EQ(Objects(2).patches.size(), 1u);
    // A player's file past the limit is never mapped for a patch, whatever the list names (a sparse
    // file: little is written).
    const std::string big = Local("game.exe");
    WriteBytes(big, "");
    ASSERT_EQ(truncate(ReplaceAll(big, "\\", "/").c_str(), off_t(kMaxPatchFileBytes) + 1), 0);
    publish::UpdateList list = *publish::ReadPublishedList(served.Path());
    TFileObjects& objects = list.additions.ObjectsFor(Md5Hex(Build(2)));
    objects.patches[0].fromDigest = Md5OfFile(big);
    PublishList(publish::FormatList(list));
    server.ClearRequests();
    RunUpdate();
    EXPECT_EQ(ClosingStatus(), kDone);
    EXPECT_EQ(ReadBytes(Local("game.exe")), Build(2));
    EXPECT_EQ(Requested("vandrel-objects/", ".patch"), 0u);

    // Signed: a patch object that is not what its name says is never applied.
    TempDir keys;
    const std::string publicKey = publish::GenerateKeyFiles(ReplaceAll(keys / "k", "\\", "/"));
    options.signingKeyFile = ReplaceAll(keys / "k\\list-signing.key", "\\", "/");
    Release(3);
    ASSERT_EQ(Objects(3).patches.size(), 1u);
    WriteBytes(served / names::ObjectStorePath(TObjectKind::Patch, Objects(3).patches[0].object.id),
               MakePatch(Build(9).data(), Build(9).size(), Build(8).data(), Build(8).size(), 3));
    beforeRun = [&](GFilesThread& worker) {
        worker.ListPublicKey = publicKey;
        worker.RetryPolicy.firstPauseMs = 10;
    };
    UpdateFrom(2);
    EXPECT_EQ(ClosingStatus(), kDone);
    EXPECT_EQ(ReadBytes(Local("game.exe")), Build(3));
}
