// The update run over a fake platform: every box, answer, copy and registry
// lookup is scripted and recorded.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "tests/support/stream_builder.h"
#include "updater/update_run.h"

namespace updater {
namespace {

struct Box {
    std::string text, caption;
    int style;
};

struct Fake {
    std::string module;
    std::map<std::string, std::string> registry;
    int answer = kAnswerYes;
    std::set<std::string> failing_copies;
    std::vector<Box> boxes;
    std::vector<std::pair<std::string, std::string>> copies;
};
Fake* g_fake = nullptr;

int FakeModulePath(char* buffer, int capacity) {
    if (static_cast<int>(g_fake->module.size()) >= capacity) return -1;
    std::memcpy(buffer, g_fake->module.c_str(), g_fake->module.size() + 1);
    return static_cast<int>(g_fake->module.size());
}

int FakeRegistry(const char* subkey, char* value, int capacity) {
    auto it = g_fake->registry.find(subkey);
    if (it == g_fake->registry.end()) return 0;
    std::snprintf(value, static_cast<size_t>(capacity), "%s", it->second.c_str());
    return 1;
}

int FakeBox(const char* text, const char* caption, int style) {
    g_fake->boxes.push_back({text, caption, style});
    return style == kBoxYesNo ? g_fake->answer : kAnswerOk;
}

int FakeCopy(const char* from, const char* to) {
    g_fake->copies.push_back({from, to});
    const std::string name = std::strrchr(to, '/') + 1;
    return g_fake->failing_copies.count(name) ? 0 : 1;
}

const Platform kFake = {'/', FakeModulePath, FakeRegistry, FakeBox, FakeCopy};
const Platform kFakeWindows = {'\\', FakeModulePath, FakeRegistry, FakeBox, FakeCopy};

// A program directory with its setup.ins and sample files.
struct ProgramDir {
    Fake fake;
    std::string dir;
    std::unique_ptr<RunState> run = std::make_unique<RunState>();
    explicit ProgramDir(const std::string& script) {
        char templ[] = "/tmp/updater_run_XXXXXX";
        dir = mkdtemp(templ);
        fake.module = dir + "/updater";
        Write("setup.ins", script);
        fake.registry["Software\\Maker\\Product"] = "/opt/product/bin/product.exe";
        g_fake = &fake;
    }
    ~ProgramDir() {
        std::string cmd = "rm -rf '" + dir + "'";
        if (std::system(cmd.c_str()) != 0) ADD_FAILURE() << cmd;
        g_fake = nullptr;
    }
    void Write(const std::string& name, const std::string& content) {
        FILE* f = std::fopen((dir + "/" + name).c_str(), "wb");
        std::fwrite(content.data(), 1, content.size(), f);
        std::fclose(f);
    }
    int Run() { return RunUpdate(*run, kFake); }
};

const std::string kScriptHead = "Product\r\nNew samples are ready.\r\nSoftware\\Maker\\Product\r\n";

TEST(UpdateRun, InstallsEveryListedFileAndReportsTheCount) {
    ProgramDir s(kScriptHead + "2\r\na.smp b.txt\r\n");
    s.Write("a.smp", "aa");
    s.Write("b.txt", "bb");
    EXPECT_EQ(s.Run(), 0);
    ASSERT_EQ(s.fake.boxes.size(), 2u);
    EXPECT_EQ(s.fake.boxes[0].text, "New samples are ready.\n Do you want to continue ?\n");
    EXPECT_EQ(s.fake.boxes[0].caption, "Update info:");
    EXPECT_EQ(s.fake.boxes[0].style, kBoxYesNo);
    EXPECT_EQ(s.fake.boxes[1].text, " 2 files have been installed.");
    EXPECT_EQ(s.fake.boxes[1].caption, "Ready: ");
    EXPECT_EQ(s.fake.boxes[1].style, kBoxOk);
    ASSERT_EQ(s.fake.copies.size(), 2u);
    EXPECT_EQ(s.fake.copies[0].first, s.dir + "/a.smp");
    EXPECT_EQ(s.fake.copies[0].second, "/opt/product/bin/a.smp");
    EXPECT_STREQ(s.run->InstallDirectory, "/opt/product/bin");
}

TEST(UpdateRun, SingularTextForExactlyOneFile) {
    ProgramDir s(kScriptHead + "2 a.smp missing.cmp");
    s.Write("a.smp", "aa");  // missing.cmp cannot be converted: not copied, not counted
    s.Run();
    ASSERT_EQ(s.fake.boxes.size(), 2u);
    EXPECT_EQ(s.fake.boxes[1].text, " 1 file has been installed.");
    EXPECT_EQ(s.fake.copies.size(), 1u);
}

TEST(UpdateRun, FailedCopyIsNotCounted) {
    ProgramDir s(kScriptHead + "3 a b c");
    s.fake.failing_copies = {"b"};
    s.Run();
    EXPECT_EQ(s.fake.copies.size(), 3u);
    EXPECT_EQ(s.fake.boxes.back().text, " 2 files have been installed.");
}

TEST(UpdateRun, NoAnswerInstallsNothingButReports) {
    ProgramDir s(kScriptHead + "1 a");
    s.fake.answer = kAnswerNo;
    s.Run();
    EXPECT_TRUE(s.fake.copies.empty());
    ASSERT_EQ(s.fake.boxes.size(), 2u);
    EXPECT_EQ(s.fake.boxes[1].text, " 0 files have been installed.");
}

TEST(UpdateRun, ZeroFilesAndTooMany) {
    ProgramDir zero(kScriptHead + "0");
    zero.Run();
    ASSERT_EQ(zero.fake.boxes.size(), 2u);
    EXPECT_EQ(zero.fake.boxes[1].text, " 0 files have been installed.");
    ProgramDir many(kScriptHead + "101");
    many.Run();
    EXPECT_TRUE(many.fake.boxes.empty()) << "a count above 100 ends the run silently";
    ProgramDir negative(kScriptHead + "-1");
    negative.Run();
    EXPECT_TRUE(negative.fake.boxes.empty());
    ProgramDir missing(kScriptHead);  // no count at all: it stays 0
    missing.Run();
    EXPECT_EQ(missing.fake.boxes.size(), 2u);
    ProgramDir short_list(kScriptHead + "3 a b");
    short_list.Run();
    EXPECT_TRUE(short_list.fake.boxes.empty());
}

TEST(UpdateRun, MissingRegistryKeyShowsTheErrorBox) {
    ProgramDir s("Product\r\nmsg\r\nSoftware\\Other\r\n1 a");
    s.Run();
    ASSERT_EQ(s.fake.boxes.size(), 1u);
    EXPECT_EQ(s.fake.boxes[0].text,
              "Product is not installed on this computer. \nThe update process can not be continued. \n");
    EXPECT_EQ(s.fake.boxes[0].caption, " Error:");
    EXPECT_EQ(s.fake.boxes[0].style, kBoxError);
    EXPECT_TRUE(s.fake.copies.empty());
}

TEST(SetupScript, LinesEndAtCrAndSkipToLf) {
    ProgramDir s("Name\rjunk\nMessage\r\nKey\r  extra \n 1 one");
    ASSERT_EQ(ModuleDirectory(*s.run, kFake), 1);
    ASSERT_EQ(ReadSetupScript(*s.run, kFake), 1);
    EXPECT_STREQ(s.run->ProductName, "Name");
    EXPECT_STREQ(s.run->UpdateMessage, "Message");
    EXPECT_STREQ(s.run->RegistrySubKey, "Key");
    EXPECT_EQ(s.run->FileCount, 1);
    EXPECT_STREQ(s.run->FileNames[0], "one");
    ProgramDir empty("\r\n\r\n\r\n0");
    ModuleDirectory(*empty.run, kFake);
    EXPECT_EQ(ReadSetupScript(*empty.run, kFake), 1) << "lines may be empty";
}

TEST(SetupScript, RejectedScripts) {
    const std::string long_name(21, 'n'), long_message(72, 'm'), long_file(15, 'f');
    const std::string rejected[] = {
        "Name\nMessage\nKey\n1 a",  // bare LF line ends
        "Name\r\nMessage\r\nKey",  // no LF after the last CR
        long_name + "\r\nMessage\r\nKey\r\n0",
        "Name\r\n" + long_message + "\r\nKey\r\n0",
        "Name\r\nMessage\r\n" + std::string(300, 'k') + "\r\n0",
        "Name\r\nMessage\r\nKey\r\n1 " + long_file,
        "Name\r\nMessage\r\nKey\r\n99999999999",
    };
    for (const std::string& script : rejected) {
        ProgramDir s(script);
        s.Run();
        EXPECT_TRUE(s.fake.boxes.empty()) << script.substr(0, 40);
    }
    const std::string longest_ok = std::string(20, 'n') + "\r\n" + std::string(71, 'm') + "\r\nKey\r\n1 " +
                                   std::string(14, 'f');
    ProgramDir ok(longest_ok);
    ModuleDirectory(*ok.run, kFake);
    EXPECT_EQ(ReadSetupScript(*ok.run, kFake), 1);
    ProgramDir none("x\r\n");
    std::remove((none.dir + "/setup.ins").c_str());
    none.Run();
    EXPECT_TRUE(none.fake.boxes.empty());
}

TEST(ModuleDirectory, DriveRootKeepsItsBackslash) {
    Fake fake;
    g_fake = &fake;
    RunState run{};
    fake.module = "C:\\updater.exe";
    ModuleDirectory(run, kFakeWindows);
    EXPECT_STREQ(run.ProgramDirectory, "C:\\");
    fake.module = "C:\\Tools\\Update\\updater.exe";
    ModuleDirectory(run, kFakeWindows);
    EXPECT_STREQ(run.ProgramDirectory, "C:\\Tools\\Update");
    fake.module = std::string(300, 'x');
    EXPECT_EQ(ModuleDirectory(run, kFakeWindows), 0);
    g_fake = nullptr;
}

TEST(FindInstallDirectory, DropsTheLastComponent) {
    Fake fake;
    g_fake = &fake;
    RunState run{};
    std::snprintf(run.RegistrySubKey, sizeof run.RegistrySubKey, "K");
    fake.registry["K"] = "C:\\Prod\\app.exe";
    EXPECT_EQ(FindInstallDirectory(run, kFakeWindows), 1);
    EXPECT_STREQ(run.InstallDirectory, "C:\\Prod");
    fake.registry["K"] = "Prod";
    EXPECT_EQ(FindInstallDirectory(run, kFakeWindows), 1);
    EXPECT_STREQ(run.InstallDirectory, "Prod");
    fake.registry["K"] = "\\app.exe";  // index 0 is not looked at
    FindInstallDirectory(run, kFakeWindows);
    EXPECT_STREQ(run.InstallDirectory, "\\app.exe");
    fake.registry.clear();
    EXPECT_EQ(FindInstallDirectory(run, kFakeWindows), 0);
    g_fake = nullptr;
}

TEST(InstallFiles, NamesThatLeaveTheDirectoriesAreRefused) {
    for (const char* bad : {"/etc/passwd", "\\x", "C:x", "..", "../x", "a/../../b", "a\\..\\b"}) {
        EXPECT_FALSE(SafeFileName(bad)) << bad;
    }
    for (const char* good : {"a", "a.cmp", "..a", "a..b", "dir/a", ".x"}) EXPECT_TRUE(SafeFileName(good)) << good;
    ProgramDir s(kScriptHead + "3 ../up a /abs");
    s.Run();
    ASSERT_EQ(s.fake.copies.size(), 1u);
    EXPECT_EQ(s.fake.boxes.back().text, " 1 file has been installed.");
}

TEST(InstallFiles, ConvertedSamplesAreCopiedUnderTheirWaveName) {
    ProgramDir s(kScriptHead + "2 voice.cp8 VOICE.CP8");
    s.Write("voice.cp8", std::string(16, '\x80'));
    s.Write("VOICE.CP8", std::string(16, '\x80'));
    s.Run();
    ASSERT_EQ(s.fake.copies.size(), 2u);
    EXPECT_EQ(s.fake.copies[0].first, s.dir + "/voice.wav");
    EXPECT_EQ(s.fake.copies[0].second, "/opt/product/bin/voice.wav");
    EXPECT_EQ(s.fake.copies[1].second, "/opt/product/bin/VOICE.CP8") << "upper case is copied unchanged";
    EXPECT_TRUE(quv3::test::FileExists(s.dir + "/voice.wav")) << "the converted file stays";
}

}  // namespace
}  // namespace updater
