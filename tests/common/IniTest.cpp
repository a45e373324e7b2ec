#include "platform/Errors.h"
#include "support/IniFile.h"
#include "tests/common/TestUtil.h"

#include <gtest/gtest.h>

using namespace testutil;

TEST(IniFile, CreatesTheFileAndSectionAndReadsBack) {
    TempDir dir;
    TIniFile ini(dir / "_settings.ini");
    ini.WriteString("main", "AtRevision", "7");
    EXPECT_EQ(ReadBytes(dir / "_settings.ini"), "[main]\r\nAtRevision=7\r\n");
    EXPECT_EQ(ini.ReadString("main", "AtRevision", "?"), "7");
    EXPECT_EQ(ini.ReadString("MAIN", "atrevision", "?"), "7");
    EXPECT_EQ(ini.ReadString("main", "Missing", "fallback"), "fallback");
    EXPECT_EQ(ini.ReadString("other", "AtRevision", "fallback"), "fallback");
}

TEST(IniFile, ReplacesTheKeyInPlaceAndKeepsEveryOtherLine) {
    TempDir dir;
    WriteBytes(dir / "_settings.ini", "; note\r\n[main]\r\nCreateBackup=1\r\nAtRevision=12\r\nOther=x\r\n[extra]\r\nA=1\r\n");
    TIniFile ini(dir / "_settings.ini");
    ini.WriteString("main", "AtRevision", "13");
    EXPECT_EQ(ReadBytes(dir / "_settings.ini"),
              "; note\r\n[main]\r\nCreateBackup=1\r\nAtRevision=13\r\nOther=x\r\n[extra]\r\nA=1\r\n");
    ini.WriteString("extra", "B", "2");
    EXPECT_EQ(ini.ReadString("extra", "B", ""), "2");
    EXPECT_EQ(ini.ReadString("extra", "A", ""), "1");
    EXPECT_EQ(ini.ReadString("main", "CreateBackup", ""), "1");
}

TEST(IniFile, ReadsValuesTrimmedAndUnquoted) {
    TempDir dir;
    WriteBytes(dir / "option.ini", "[Video]\r\n Width = 1024 \r\nName=\"quoted value\"\r\n");
    TIniFile ini(dir / "option.ini");
    EXPECT_EQ(ini.ReadString("Video", "Width", ""), "1024");
    EXPECT_EQ(ini.ReadString("Video", "Name", ""), "quoted value");
}

TEST(IniFile, ARefusedWriteRaisesUnableToWrite) {
    TempDir dir;
    TIniFile ini(dir / "no-such-folder\\_settings.ini");
    try {
        ini.WriteString("main", "AtRevision", "7");
        FAIL() << "no error";
    } catch (const Exception& e) {
        EXPECT_EQ(std::string(e.what()), "Unable to write to " + ini.FileName());
    }
}
