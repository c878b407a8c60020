// The settings file on disk: reading, replacing, and failures that must
// leave the stored settings intact. The tests run as root, so they provoke
// failures with missing folders, folders in place of files and resource
// limits rather than with permission bits.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/Exception.h"
#include "platform/IniFile.h"
#include "tests/support/TempFolder.h"

namespace fs = std::filesystem;

namespace {

class IniFileFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        TestSupport::MakeTempFolder("velmor-ini", Dir);
        Path = Dir + "/velmor.ini";
    }
    void TearDown() override { fs::remove_all(Dir); }

    static std::string Load(const std::string& P)
    {
        std::ifstream F(P, std::ios::binary);
        std::stringstream S;
        S << F.rdbuf();
        return S.str();
    }
    static void Save(const std::string& P, const std::string& Text)
    {
        std::ofstream F(P, std::ios::binary | std::ios::trunc);
        F << Text;
    }
    // The save's error message, with the soft limit of Resource lowered to
    // Limit for the time of the save.
    static std::string MessageUnder(TIniFile& Ini, decltype(RLIMIT_FSIZE) Resource, rlim_t Limit)
    {
        struct rlimit Old;
        EXPECT_EQ(getrlimit(Resource, &Old), 0);
        struct rlimit Low = Old;
        Low.rlim_cur = Limit;
        EXPECT_EQ(setrlimit(Resource, &Low), 0);
        std::string Message = MessageOf(Ini);
        EXPECT_EQ(setrlimit(Resource, &Old), 0);
        return Message;
    }
    // The permission bits of the file, or a value no mode has when it is gone.
    static unsigned Mode(const std::string& P)
    {
        struct stat St;
        return stat(P.c_str(), &St) == 0 ? St.st_mode & 07777 : ~0u;
    }
    std::vector<std::string> Entries() const
    {
        std::vector<std::string> Names;
        for (const auto& E : fs::directory_iterator(Dir))
            Names.push_back(E.path().filename().string());
        std::sort(Names.begin(), Names.end());
        return Names;
    }
    static std::string MessageOf(TIniFile& Ini)
    {
        try {
            Ini.UpdateFile();
        } catch (const Exception& E) {
            return E.Message();
        }
        return "(no exception)";
    }

    std::string Dir;
    std::string Path;
};

const char OldFile[] = "[General]\r\nLeft=1\r\n\r\n";

TEST_F(IniFileFiles, MissingFileReadsAsEmptyAndIsCreatedOnUpdate)
{
    TIniFile Ini(Path);
    EXPECT_EQ(Ini.Text(), "");
    EXPECT_EQ(Ini.ReadInteger("General", "Left", 600), 600);
    Ini.WriteInteger("General", "Left", 600);
    mode_t Old = umask(022);
    Ini.UpdateFile();
    umask(Old);
    EXPECT_EQ(Load(Path), "[General]\r\nLeft=600\r\n\r\n");
    EXPECT_EQ(Mode(Path), 0644u);
    EXPECT_EQ(Entries(), std::vector<std::string>{"velmor.ini"});
}

TEST_F(IniFileFiles, UpdateReplacesTheFileKeepingItsPermissions)
{
    Save(Path, "[Mine]\nKeep = me\n[General]\nLeft=5\n");
    ASSERT_EQ(chmod(Path.c_str(), 0640), 0);
    TIniFile Ini(Path);
    EXPECT_EQ(Ini.ReadInteger("General", "Left", 0), 5);
    Ini.WriteInteger("General", "Left", 7);
    Ini.UpdateFile();
    EXPECT_EQ(Load(Path), "[Mine]\r\nKeep=me\r\n\r\n[General]\r\nLeft=7\r\n\r\n");
    EXPECT_EQ(Mode(Path), 0640u);
    EXPECT_EQ(Entries(), std::vector<std::string>{"velmor.ini"});
}

TEST_F(IniFileFiles, SymbolicLinkStaysALink)
{
    std::string Real = Dir + "/real.ini";
    Save(Real, OldFile);
    ASSERT_EQ(symlink("real.ini", Path.c_str()), 0);
    TIniFile Ini(Path);
    Ini.WriteInteger("General", "Left", 2);
    Ini.UpdateFile();
    EXPECT_TRUE(fs::is_symlink(Path));
    EXPECT_EQ(Load(Real), "[General]\r\nLeft=2\r\n\r\n");
}

TEST_F(IniFileFiles, LongFileNameStillSaves)
{
    std::string Long = Dir + "/" + std::string(240, 'v') + ".ini";
    TIniFile Ini(Long);
    Ini.WriteInteger("General", "Left", 3);
    Ini.UpdateFile();
    EXPECT_EQ(Load(Long), "[General]\r\nLeft=3\r\n\r\n");
}

TEST_F(IniFileFiles, MissingFolderCannotCreateFile)
{
    std::string Missing = Dir + "/no-such-folder/velmor.ini";
    TIniFile Ini(Missing);
    Ini.WriteInteger("General", "Left", 1);
    EXPECT_EQ(MessageOf(Ini), "Cannot create file " + Missing);
    EXPECT_TRUE(Entries().empty());
}

TEST_F(IniFileFiles, RelativeNameIsReportedWithItsFullPath)
{
    std::string Cwd = fs::current_path().string();
    fs::current_path(Dir);
    TIniFile Ini("missing/velmor.ini");
    Ini.WriteInteger("General", "Left", 1);
    std::string Message = MessageOf(Ini);
    fs::current_path(Cwd);
    EXPECT_EQ(Message, "Cannot create file " + fs::canonical(Dir).string() + "/missing/velmor.ini");
}

TEST_F(IniFileFiles, TemporaryFileThatCannotBeCreatedLeavesTheOldFile)
{
#if defined(__SANITIZE_ADDRESS__)
    // The sanitizer runtime itself needs file descriptors to look at memory
    // while it checks a thrown exception, so with none left it reports a
    // false fault. The plain build runs this case.
    GTEST_SKIP() << "needs file descriptors the sanitizer runtime uses";
#endif
    Save(Path, OldFile);
    TIniFile Ini(Path);
    Ini.WriteInteger("General", "Left", 2);

    // No file descriptor left: the new content cannot even be started.
    std::string Message = MessageUnder(Ini, RLIMIT_NOFILE, 0);

    EXPECT_EQ(Message, "Cannot create file " + Path);
    EXPECT_EQ(Load(Path), OldFile);
    EXPECT_EQ(Entries(), std::vector<std::string>{"velmor.ini"});
}

TEST_F(IniFileFiles, FailedWriteLeavesTheOldFileAndNoTemporaryFile)
{
    Save(Path, OldFile);
    TIniFile Ini(Path);
    for (int I = 0; I < 50; ++I)
        Ini.WriteInteger("Section" + std::to_string(I), "Key", I);

    // A file size limit below the new content makes the write fail midway.
    auto OldHandler = std::signal(SIGXFSZ, SIG_IGN);
    std::string Message = MessageUnder(Ini, RLIMIT_FSIZE, 64);
    std::signal(SIGXFSZ, OldHandler);

    EXPECT_EQ(Message.rfind("Cannot write file " + Path + ": ", 0), 0u) << Message;
    EXPECT_EQ(Load(Path), OldFile);
    EXPECT_EQ(Entries(), std::vector<std::string>{"velmor.ini"});
}

TEST_F(IniFileFiles, FolderInPlaceOfTheFile)
{
    // The file object is built while the name is free; then a folder takes
    // the name.
    TIniFile Ini(Path);
    Ini.WriteInteger("General", "Left", 4);
    ASSERT_TRUE(fs::create_directory(Path));
    Save(Path + "/inside", "x");

    try {
        TIniFile Reading(Path);
        ADD_FAILURE() << "reading a folder did not throw";
    } catch (const Exception& E) {
        EXPECT_EQ(E.Message(), "Cannot read file " + Path + ": it is a folder");
    }

    // Writing over the folder fails at the final replacement, which must not
    // leave the temporary file behind or touch the folder.
    std::string Message = MessageOf(Ini);
    EXPECT_EQ(Message.rfind("Cannot replace file " + Path + ": ", 0), 0u) << Message;
    EXPECT_TRUE(fs::is_directory(Path));
    EXPECT_EQ(Load(Path + "/inside"), "x");
    EXPECT_EQ(Entries(), std::vector<std::string>{"velmor.ini"});
}

TEST_F(IniFileFiles, SpecialFileCannotBeRead)
{
    std::string Fifo = Dir + "/fifo.ini";
    ASSERT_EQ(mkfifo(Fifo.c_str(), 0600), 0);
    try {
        TIniFile Ini(Fifo); // must neither block nor read
        ADD_FAILURE() << "reading a FIFO did not throw";
    } catch (const Exception& E) {
        EXPECT_EQ(E.Message(), "Cannot read file " + Fifo + ": it is not a regular file");
    }
}

TEST_F(IniFileFiles, ReadsFileWrittenWithAnyLineEnds)
{
    Save(Path, "[I]\rIw=1\nIa=2\r\nIh=3");
    TIniFile Ini(Path);
    EXPECT_EQ(Ini.ReadInteger("I", "Iw", 0), 1);
    EXPECT_EQ(Ini.ReadInteger("I", "Ia", 0), 2);
    EXPECT_EQ(Ini.ReadInteger("I", "Ih", 0), 3);
}

} // namespace

// Runs Work in a child process that has given up root for "nobody", and
// returns what it returned (or -1 if it could not run).
template <class F>
int AsNobody(F Work)
{
    const pid_t Child = fork();
    if (Child == 0) {
        if (setgid(65534) != 0 || setuid(65534) != 0)
            _exit(99);
        _exit(Work());
    }
    int Status = 0;
    if (Child < 0 || waitpid(Child, &Status, 0) != Child || !WIFEXITED(Status))
        return -1;
    return WEXITSTATUS(Status);
}

TEST_F(IniFileFiles, WritableFileInAFolderThatIsNotIsRewrittenInPlace)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to act as another user";
    Save(Path, OldFile);
    ASSERT_EQ(chmod(Dir.c_str(), 0755), 0);
    ASSERT_EQ(chmod(Path.c_str(), 0666), 0);
    const std::string Missing = Dir + "/other.ini";
    const int Result = AsNobody([&] {
        TIniFile Ini(Path);
        Ini.WriteInteger("General", "Left", 7);
        Ini.WriteInteger("General", "Top", 8);
        Ini.UpdateFile();
        // A file that does not exist yet still cannot be created there.
        TIniFile New(Missing);
        New.WriteInteger("General", "Left", 1);
        return MessageOf(New) == "Cannot create file " + Missing ? 0 : 1;
    });
    ASSERT_NE(Result, 99) << "could not become nobody";
    EXPECT_EQ(Result, 0);
    EXPECT_EQ(Load(Path), "[General]\r\nLeft=7\r\nTop=8\r\n\r\n");
    EXPECT_EQ(Entries(), std::vector<std::string>{"velmor.ini"});
}

TEST_F(IniFileFiles, SaveRemovesLeftoversOfKilledSavesAndNothingElse)
{
    Save(Path, OldFile);
    const std::string Dead = ".velmor.ini.99999999-3-120.tmp";  // no such process
    const std::string Running = ".velmor.ini.1-1-1.tmp";         // a live process's save
    const std::vector<std::string> Others = {".velmor.ini.tmp", ".velmor.ini.99999999-3.tmp",
                                             ".other.ini.99999999-3-120.tmp", "velmor.ini.99999999-3-120.tmp"};
    Save(Dir + "/" + Dead, "x");
    Save(Dir + "/" + Running, "x");
    for (const auto& Name : Others)
        Save(Dir + "/" + Name, "x");
    TIniFile Ini(Path);
    Ini.UpdateFile();
    std::vector<std::string> Expected = Others;
    Expected.push_back(Running);
    Expected.push_back("velmor.ini");
    std::sort(Expected.begin(), Expected.end());
    EXPECT_EQ(Entries(), Expected);
}

TEST_F(IniFileFiles, LargeFilesReadAsAnyOtherUpToTheLimit)
{
    std::string Big = "[General]\r\n";
    while (Big.size() < 3 * 1024 * 1024)
        Big += "Filler=0123456789\r\n";
    Big += "Left=5\r\n";
    Save(Path, Big);
    EXPECT_EQ(TIniFile(Path).ReadInteger("General", "Left", 0), 5);

    // Beyond 64 MiB it is not taken for a settings file (a sparse file: no
    // disk or memory spent).
    ASSERT_EQ(truncate(Path.c_str(), 64 * 1024 * 1024 + 1), 0);
    EXPECT_THROW(TIniFile{Path}, EFileTooLarge);
}
