// vandrel-publish --verify against a served update set, sound and damaged.
#include "platform/Platform.h"
#include "support/BZip2.h"
#include "support/Misc.h"
#include "tests/common/TestUtil.h"
#include "tests/server/TestHttpServer.h"
#include "tools/publish/Publish.h"
#include "tools/publish/PublishCommandLine.h"
#include "tools/publish/PublishVerify.h"

#include <gtest/gtest.h>

#include <sstream>

using namespace testutil;

namespace {

std::string Native(const std::string& path) { return ReplaceAll(path, "\\", "/"); }

// The problems that mention the path.
std::vector<std::string> About(const publish::VerifyReport& report, const std::string& path) {
    std::vector<std::string> found;
    for (const std::string& problem : report.problems)
        if (problem.find(" " + path + ": ") != std::string::npos) found.push_back(problem);
    return found;
}

class Verifying : public ::testing::Test {
protected:
    Verifying() : server(served.Path()) {
        const std::vector<std::pair<std::string, std::string>> files = {
            {"system\\zr.exe", RandomBytes(40000, 7)}, {"data\\a.dat", "alpha"}, {"data\\b.dat", "beta"},
            {"data\\c.dat", "gamma"},                  {"data\\d.dat", "delta"}, {"data\\e.dat", RandomBytes(1200000, 8)}};
        for (auto& [path, content] : files) {
            platform::MakeFolders(ExtractFilePath(client / path));
            WriteBytes(client / path, content);
        }
        publish::PublishOptions options;
        options.clientDir = Native(client.Path());
        options.outDir = Native(served.Path());
        options.critical = {"system/"};
        publish::Publish(options);
    }
    std::string List() {
        WriteBytes(scratch / "list.bz2", ReadBytes(served / "files.lst.bz2"));
        UnpackFile(scratch / "list.bz2", scratch / "list");
        return ReadBytes(scratch / "list");
    }

    TempDir client, served, scratch;
    TestHttpServer server;
};

} // namespace

TEST_F(Verifying, ASoundSetHasNoProblemsAndATrialInstallHoldsTheFiles) {
    publish::VerifyReport report = publish::Verify(server.BaseUrl(), "");
    EXPECT_TRUE(report.problems.empty()) << report.problems[0];
    EXPECT_EQ(report.entries, 6u);
    EXPECT_EQ(report.revision, 1);

    std::string base = server.BaseUrl();
    base.pop_back(); // without the final "/"
    report = publish::Verify(base, scratch / "install");
    EXPECT_TRUE(report.problems.empty());
    EXPECT_EQ(ReadBytes(scratch / "install\\data\\e.dat"), ReadBytes(client / "data\\e.dat"));
    EXPECT_FALSE(platform::IsFile(scratch / "install\\data\\e.dat.bz2"));
    EXPECT_FALSE(platform::IsFile(scratch / "install\\files.lst"));
}

TEST_F(Verifying, FindsAMissingACorruptAWronglySizedAndAWronglyDigestedPayloadAllInOneRun) {
    platform::RemoveFile(served / "data\\a.dat.bz2");
    std::string b = ReadBytes(served / "data\\e.dat.bz2");
    b[b.size() / 2] ^= 0x55;
    WriteBytes(served / "data\\e.dat.bz2", b);
    std::string list = List();
    size_t c = list.find("data\\c.dat|");
    size_t end = list.find("\r\n", c);
    size_t bar = list.rfind('|', end);
    list.replace(bar + 1, end - bar - 1, std::to_string(std::stoi(list.substr(bar + 1, end - bar - 1)) + 1));
    size_t d = list.find("data\\d.dat|") + 11;
    list[d] = list[d] == '0' ? '1' : '0';
    WriteBytes(served / "files.lst.bz2", Compress(list));

    publish::VerifyReport report = publish::Verify(server.BaseUrl(), "");
    EXPECT_EQ(report.entries, 6u);
    ASSERT_EQ(About(report, "data\\a.dat").size(), 1u);
    EXPECT_NE(About(report, "data\\a.dat")[0].find("missing"), std::string::npos);
    ASSERT_EQ(About(report, "data\\e.dat").size(), 1u);
    EXPECT_NE(About(report, "data\\e.dat")[0].find("does not unpack"), std::string::npos);
    ASSERT_EQ(About(report, "data\\c.dat").size(), 1u);
    EXPECT_NE(About(report, "data\\c.dat")[0].find("wrong size"), std::string::npos);
    // Its digest changed in the list: the payload unpacks to another, and no object is named for it.
    ASSERT_EQ(About(report, "data\\d.dat").size(), 2u);
    EXPECT_NE(About(report, "data\\d.dat")[0].find("wrong digest"), std::string::npos);
    EXPECT_NE(About(report, "data\\d.dat")[1].find("no payload object"), std::string::npos);
    EXPECT_TRUE(About(report, "data\\b.dat").empty());
    EXPECT_TRUE(About(report, "system\\zr.exe").empty());
    EXPECT_EQ(report.problems.size(), 5u);

    std::ostringstream out, err;
    EXPECT_EQ(publish::RunCommandLine({"--verify", server.BaseUrl()}, out, err, false), 1);
    EXPECT_NE(out.str().find("6 files checked, 5 problems"), std::string::npos) << out.str();
}

TEST_F(Verifying, AListThatIsMissingOrBrokenOrUnreadableForTheLauncherIsReported) {
    WriteBytes(served / "files.lst.bz2",
               Compress("[settings]\r\nRev|x\r\n[/settings]\r\n[files_normal]\r\ndata\\b.dat|ABC|5\r\n"
                        "..\\evil.dat|00000000000000000000000000000000|9\r\nshort|1\r\n[/files_normal]\r\n"));
    publish::VerifyReport report = publish::Verify(server.BaseUrl(), "");
    std::string all;
    for (const std::string& problem : report.problems) all += problem + "\n";
    EXPECT_NE(all.find("Rev is missing or not a number"), std::string::npos) << all;
    EXPECT_NE(all.find("ModHosts is missing"), std::string::npos) << all;
    EXPECT_NE(all.find("\"ABC\" is not 32 lower-case hex digits"), std::string::npos) << all;
    EXPECT_NE(all.find("outside the install folder"), std::string::npos) << all;
    EXPECT_NE(all.find("fewer than three fields"), std::string::npos) << all;

    platform::RemoveFile(served / "files.lst.bz2");
    report = publish::Verify(server.BaseUrl(), "");
    ASSERT_EQ(report.problems.size(), 1u);
    EXPECT_NE(report.problems[0].find("files.lst.bz2 does not unpack"), std::string::npos) << report.problems[0];

    report = publish::Verify("http://127.0.0.1:1/", "");
    ASSERT_EQ(report.problems.size(), 1u);
    EXPECT_NE(report.problems[0].find("cannot open"), std::string::npos);
}

TEST(PublishCommandLine, UsageErrorsExitWithTwoAndAPublishPrintsItsSummary) {
    std::ostringstream out, err;
    EXPECT_EQ(publish::RunCommandLine({}, out, err, false), 2);
    EXPECT_EQ(publish::RunCommandLine({"only-one"}, out, err, false), 2);
    EXPECT_EQ(publish::RunCommandLine({"a", "b", "--rev", "x"}, out, err, false), 2);
    EXPECT_EQ(publish::RunCommandLine({"a", "b", "--frobnicate"}, out, err, false), 2);
    EXPECT_NE(err.str().find("unknown option --frobnicate"), std::string::npos);

    TempDir client, out1;
    WriteBytes(client / "game.exe", "game");
    std::ostringstream summary, errors;
    EXPECT_EQ(publish::RunCommandLine({Native(client.Path()), Native(out1.Path()), "--critical=*.exe", "--rev", "4"},
                                      summary, errors, false),
              0)
        << errors.str();
    EXPECT_EQ(summary.str().rfind("published revision 4: 1 files (1 compressed", 0), 0u) << summary.str();
    EXPECT_TRUE(errors.str().empty()) << "no progress display off a terminal";
    EXPECT_EQ(publish::RunCommandLine({Native(client.Path()), Native(client / "web")}, summary, errors, false), 1);
    EXPECT_NE(errors.str().find("inside the client folder"), std::string::npos);
}
