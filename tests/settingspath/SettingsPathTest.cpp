#include "settings/SettingsPath.h"

#include <cstdlib>
#include <filesystem>
#include <string>

#include <sys/stat.h>

#include <gtest/gtest.h>

#include "platform/Exception.h"
#include "platform/IniFile.h"
#include "tests/support/TempFolder.h"

namespace {

// Sets an environment variable for one test and puts the old value back.
class TEnv {
public:
    TEnv(const char* Name, const std::string& Value) : FName(Name)
    {
        if (const char* Old = std::getenv(Name))
            FOld = Old, FHad = true;
        setenv(Name, Value.c_str(), 1);
    }
    ~TEnv()
    {
        if (FHad)
            setenv(FName, FOld.c_str(), 1);
        else
            unsetenv(FName);
    }

private:
    const char* FName;
    std::string FOld;
    bool FHad = false;
};

class UserConfigLocation : public ::testing::Test {
protected:
    void SetUp() override
    {
        TestSupport::MakeTempFolder("velmor-settings", Dir);
        SetSettingsLocation(TSettingsLocation::UserConfig);
    }
    void TearDown() override
    {
        SetSettingsLocation(TSettingsLocation::BesideExecutable);
        std::filesystem::remove_all(Dir);
    }
    std::string Dir;
    std::string Root() const { return Dir; }
};

} // namespace

TEST(SettingsPath, BesideTheExecutableUnlessTheEntryPointSaysOtherwise)
{
    ASSERT_EQ(SettingsLocation(), TSettingsLocation::BesideExecutable);
    TEnv Config("XDG_CONFIG_HOME", "/tmp/elsewhere");
    EXPECT_EQ(SettingsFilePath("/opt/panel/velmor"), "/opt/panel/velmor.ini");
}

TEST(SettingsPath, UserFolderFollowsTheBaseDirectoryRules)
{
    EXPECT_EQ(UserSettingsPathFrom("/cfg", "/home/op"), "/cfg/velmor/velmor.ini");
    EXPECT_EQ(UserSettingsPathFrom("/cfg/", "/home/op"), "/cfg/velmor/velmor.ini");
    // A relative or empty XDG_CONFIG_HOME is not a folder to use.
    EXPECT_EQ(UserSettingsPathFrom("cfg", "/home/op"), "/home/op/.config/velmor/velmor.ini");
    EXPECT_EQ(UserSettingsPathFrom("", "/home/op/"), "/home/op/.config/velmor/velmor.ini");
    EXPECT_EQ(UserSettingsPathFrom(nullptr, nullptr), "");
}

TEST_F(UserConfigLocation, MissingFoldersAreMadeForTheUserAlone)
{
    TEnv Config("XDG_CONFIG_HOME", Root() + "/a/b");
    const std::string Path = SettingsFilePath("/usr/lib/velmor/velmor");
    EXPECT_EQ(Path, Root() + "/a/b/velmor/velmor.ini");
    struct stat St;
    ASSERT_EQ(stat((Root() + "/a/b/velmor").c_str(), &St), 0);
    EXPECT_TRUE(S_ISDIR(St.st_mode));
    EXPECT_EQ(St.st_mode & 0777, 0700u);

    TIniFile Ini(Path);
    Ini.WriteInteger("General", "Left", 600);
    Ini.UpdateFile();
    EXPECT_EQ(TIniFile(Path).ReadInteger("General", "Left", 0), 600);
}

TEST_F(UserConfigLocation, AFolderThatCannotBeMadeReadsAsNoFileAndFailsTheSave)
{
    // The configuration "folder" is a regular file.
    TEnv Config("XDG_CONFIG_HOME", Root() + "/file");
    TIniFile(Root() + "/file").UpdateFile();
    const std::string Path = SettingsFilePath("/usr/lib/velmor/velmor");
    EXPECT_EQ(Path, Root() + "/file/velmor/velmor.ini");
    TIniFile Ini(Path);
    EXPECT_EQ(Ini.ReadInteger("General", "Left", 7), 7);
    EXPECT_THROW(Ini.UpdateFile(), Exception);
}

TEST_F(UserConfigLocation, HomeFolderWhenNoConfigFolderIsGiven)
{
    TEnv Config("XDG_CONFIG_HOME", "");
    TEnv Home("HOME", Root());
    EXPECT_EQ(SettingsFilePath("/usr/lib/velmor/velmor"), Root() + "/.config/velmor/velmor.ini");
}
