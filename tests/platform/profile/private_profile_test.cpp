// The private profile functions against the files users meet: missing ones, hand-edited ones
// with comments, odd spacing, quotes and garbage, and files written on the other platform.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include "IniDocument.h"
#include "PrivateProfile.h"
#include "support/media.h"

using platform::GetPrivateProfileInt;
using platform::GetPrivateProfileString;
using platform::WritePrivateProfileString;

namespace {

void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string get(const std::string& path, const std::string& section, const std::string& key,
                const std::string& fallback = "<default>") {
    return GetPrivateProfileString(section, key, fallback, path);
}

}  // namespace

TEST(PrivateProfileRead, MissingFileSectionOrKeyGivesTheDefault) {
    testsupport::TempDir dir;
    const std::string missing = dir.file("none.ini");
    EXPECT_EQ(GetPrivateProfileInt("config", "winnum", 4, missing), 4);
    EXPECT_EQ(get(missing, "config", "file0", ""), "");
    char buffer[16] = "xxxxxxxxxxxxxxx";
    EXPECT_EQ(GetPrivateProfileString("config", "file0", "abc  ", buffer, sizeof buffer, missing),
              3u);
    EXPECT_STREQ(buffer, "abc");                     // trailing blanks of a default are dropped
    EXPECT_FALSE(std::filesystem::exists(missing));  // reading never creates the file

    const std::string path = dir.file("set.ini");
    writeFile(path, "[config]\r\nwinnum=9\r\n");
    EXPECT_EQ(GetPrivateProfileInt("other", "winnum", 4, path), 4);
    EXPECT_EQ(GetPrivateProfileInt("config", "replay", 0, path), 0);
    EXPECT_EQ(get(path, "config", "file3"), "<default>");
    // A folder where the file should be reads as a missing file.
    EXPECT_EQ(GetPrivateProfileInt("config", "winnum", 7, dir.path().string()), 7);
}

TEST(PrivateProfileRead, NamesIgnoreCaseAndBlanksAndValuesLoseQuotes) {
    testsupport::TempDir dir;
    const std::string path = dir.file("set.ini");
    writeFile(path,
              "; settings\r\n"
              "  [ Config ]  \r\n"
              "  WinNum  =  9  \r\n"
              "file0 = \"rtsp://cam/a b\" \r\n"
              "file1='single'\r\n"
              "file2=\"unbalanced'\r\n"
              "file3=\"\r\n"
              "file4=a=b;c\r\n"
              ";file5=commented\r\n"
              "file6=first\r\n"
              "FILE6=second\r\n"
              "[config]\r\n"
              "file7=in a second section of the same name\r\n");
    EXPECT_EQ(GetPrivateProfileInt("CONFIG", "winnum", 4, path), 9);
    EXPECT_EQ(get(path, "config", "file0"), "rtsp://cam/a b");
    EXPECT_EQ(get(path, "config", "file1"), "single");
    EXPECT_EQ(get(path, "config", "file2"), "\"unbalanced'");
    EXPECT_EQ(get(path, "config", "file3"), "\"");
    EXPECT_EQ(get(path, "config", "file4"), "a=b;c");  // no inline comments
    EXPECT_EQ(get(path, "config", "file5"), "<default>");
    EXPECT_EQ(get(path, "config", "file6"), "first");  // the first key of a name counts
    EXPECT_EQ(get(path, "config", "file7"), "<default>");
    EXPECT_EQ(get(path, " config ", " file1 "), "single");
}

TEST(PrivateProfileRead, GarbageLinesAndByteOrderMarkAreSkipped) {
    testsupport::TempDir dir;
    const std::string path = dir.file("set.ini");
    writeFile(path, std::string("\xEF\xBB\xBF[config]\nthis line is garbage\n=no name\n[broken\n") +
                        std::string("\0\x01\xff", 3) + "\nwinnum=16\nreplay=1");  // no final LF
    EXPECT_EQ(GetPrivateProfileInt("config", "winnum", 4, path), 16);
    EXPECT_EQ(GetPrivateProfileInt("config", "replay", 0, path), 1);
    EXPECT_EQ(get(path, "config", "this line is garbage"), "<default>");
}

TEST(PrivateProfileRead, ValuesAreCutToTheBufferSize) {
    testsupport::TempDir dir;
    const std::string path = dir.file("set.ini");
    const std::string longValue(5000, 'v');
    writeFile(path, "[config]\r\nfile0=" + longValue + "\r\nfile1=abcdef\r\n");

    char buffer[1024];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(GetPrivateProfileString("config", "file0", "", buffer, sizeof buffer, path), 1023u);
    EXPECT_EQ(std::string(buffer), std::string(1023, 'v'));
    EXPECT_EQ(get(path, "config", "file0").size(), 1023u);  // the string form's default limit
    EXPECT_EQ(GetPrivateProfileString("config", "file0", "", path, 100000), longValue);

    char small[4] = {'x', 'x', 'x', 'x'};
    EXPECT_EQ(GetPrivateProfileString("config", "file1", "", small, sizeof small, path), 3u);
    EXPECT_STREQ(small, "abc");
    char one = 'x';
    EXPECT_EQ(GetPrivateProfileString("config", "file1", "", &one, 1, path), 0u);
    EXPECT_EQ(one, '\0');
    EXPECT_EQ(GetPrivateProfileString("config", "file1", "", small, 0, path), 0u);
    EXPECT_EQ(small[0], 'a');  // size 0: the buffer is not touched
    EXPECT_EQ(GetPrivateProfileString("config", "file1", "", nullptr, 10, path), 0u);
}

TEST(PrivateProfileRead, HugeValueRoundTrips) {
    testsupport::TempDir dir;
    const std::string path = dir.file("set.ini");
    std::string huge(4 * 1024 * 1024, 'h');
    huge.back() = 'z';
    ASSERT_TRUE(WritePrivateProfileString("config", "file0", huge, path));
    ASSERT_TRUE(WritePrivateProfileString("config", "winnum", "9", path));
    EXPECT_EQ(GetPrivateProfileString("config", "file0", "", path, huge.size()), huge);
    EXPECT_EQ(GetPrivateProfileInt("config", "winnum", 4, path), 9);
}

TEST(PrivateProfileRead, IntegersFollowTheProfileRules) {
    testsupport::TempDir dir;
    const std::string path = dir.file("set.ini");
    writeFile(path,
              "[n]\r\n"
              "neg=-12\r\nplus=+7\r\nhex=0x1F\r\nneghex=-0x10\r\ntrail=12abc\r\n"
              "word=abc\r\nempty=\r\nblank=   \r\nminus=-\r\nquoted=\"5\"\r\n"
              "big=99999999999999999999\r\nsmall=-99999999999999999999\r\n"
              "max=2147483647\r\nmin=-2147483648\r\nspace=1 2\r\nhexonly=0x\r\n");
    auto value = [&](const char* key) { return GetPrivateProfileInt("n", key, 42, path); };
    EXPECT_EQ(value("neg"), -12);
    EXPECT_EQ(value("plus"), 7);
    EXPECT_EQ(value("hex"), 31);
    EXPECT_EQ(value("neghex"), -16);
    EXPECT_EQ(value("trail"), 12);
    EXPECT_EQ(value("word"), 0);
    EXPECT_EQ(value("empty"), 42);
    EXPECT_EQ(value("blank"), 42);
    EXPECT_EQ(value("minus"), 0);
    EXPECT_EQ(value("quoted"), 5);
    EXPECT_EQ(value("big"), INT_MAX);
    EXPECT_EQ(value("small"), INT_MIN);
    EXPECT_EQ(value("max"), INT_MAX);
    EXPECT_EQ(value("min"), INT_MIN);
    EXPECT_EQ(value("space"), 1);
    EXPECT_EQ(value("hexonly"), 0);
    EXPECT_EQ(value("absent"), 42);
}

TEST(PrivateProfileWrite, NewFileIsWrittenWithCrLf) {
    testsupport::TempDir dir;
    const std::string path = dir.file("set.ini");
    ASSERT_TRUE(WritePrivateProfileString("config", "winnum", "9", path));
    ASSERT_TRUE(WritePrivateProfileString("config", "replay", "1", path));
    ASSERT_TRUE(WritePrivateProfileString("other", "x", "y z", path));
    EXPECT_EQ(readFile(path), "[config]\r\nwinnum=9\r\nreplay=1\r\n\r\n[other]\r\nx=y z\r\n");
    EXPECT_EQ(GetPrivateProfileInt("config", "winnum", 4, path), 9);
}

TEST(PrivateProfileWrite, KeysChangeInPlaceAndEverythingElseStays) {
    testsupport::TempDir dir;
    const std::string path = dir.file("set.ini");
    const std::string original =
        "; written by hand\n"
        "[view]\n"
        "zoom = 2   \n"
        "\n"
        "[Config]\n"
        "WinNum = 4\n"
        "garbage line\n"
        "file0=a.mp4\n"
        "\n"
        "; the next section\n"
        "[tail]\n"
        "k=v";  // no line end at the end
    writeFile(path, original);

    ASSERT_TRUE(WritePrivateProfileString("config", "winnum", "16", path));
    ASSERT_TRUE(WritePrivateProfileString("config", "file1", "b.mp4", path));
    EXPECT_EQ(readFile(path),
              "; written by hand\n"
              "[view]\n"
              "zoom = 2   \n"
              "\n"
              "[Config]\n"
              "WinNum=16\n"
              "garbage line\n"
              "file0=a.mp4\n"
              "file1=b.mp4\n"
              "\n"
              "; the next section\n"
              "[tail]\n"
              "k=v");

    ASSERT_TRUE(WritePrivateProfileString("tail", "k2", "v2", path));
    ASSERT_TRUE(WritePrivateProfileString("new", "a", "", path));
    const std::string text = readFile(path);
    EXPECT_NE(text.find("[tail]\nk=v\nk2=v2\n\n[new]\na=\n"), std::string::npos) << text;
    EXPECT_EQ(text.find('\r'), std::string::npos);  // LF file stays LF
    EXPECT_EQ(get(path, "new", "a"), "");           // written empty, not missing

    // Writing the value a key already has leaves the file's bytes alone.
    ASSERT_TRUE(WritePrivateProfileString("view", "zoom", "2", path));
    EXPECT_EQ(readFile(path), text);
}

TEST(PrivateProfileWrite, ExistingCrLfFileKeepsItsLineEnds) {
    testsupport::TempDir dir;
    const std::string path = dir.file("set.ini");
    writeFile(path, "[config]\r\nwinnum=4\r\n");
    ASSERT_TRUE(WritePrivateProfileString("config", "file0", "x", path));
    ASSERT_TRUE(WritePrivateProfileString("more", "y", "1", path));
    EXPECT_EQ(readFile(path), "[config]\r\nwinnum=4\r\nfile0=x\r\n\r\n[more]\r\ny=1\r\n");
}

TEST(PrivateProfileWrite, LineBreaksAndStructureCharactersAreRefused) {
    testsupport::TempDir dir;
    const std::string path = dir.file("set.ini");
    ASSERT_TRUE(WritePrivateProfileString("config", "winnum", "4", path));
    const std::string before = readFile(path);
    EXPECT_FALSE(WritePrivateProfileString("config", "file0", "a\r\n[evil]\r\nx=1", path));
    EXPECT_FALSE(WritePrivateProfileString("config", "file0\nx", "1", path));
    EXPECT_FALSE(WritePrivateProfileString("con]fig", "file0", "1", path));
    EXPECT_FALSE(WritePrivateProfileString("config", "a=b", "1", path));
    EXPECT_FALSE(WritePrivateProfileString("config", "", "1", path));
    EXPECT_FALSE(WritePrivateProfileString("", "file0", "1", path));
    EXPECT_FALSE(WritePrivateProfileString("config", ";file0", "1", path));
    EXPECT_EQ(readFile(path), before);
}

TEST(PrivateProfileWrite, UnwritablePlacesFailAndKeepTheOldFile) {
    testsupport::TempDir dir;
    EXPECT_FALSE(WritePrivateProfileString("config", "a", "1", dir.file("no/such/folder.ini")));
    EXPECT_FALSE(WritePrivateProfileString("config", "a", "1", dir.path().string()));
    EXPECT_FALSE(std::filesystem::exists(dir.file("no")));
    // A named pipe is neither waited on nor replaced.
    const std::string pipe = dir.file("pipe.ini");
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    EXPECT_EQ(GetPrivateProfileInt("config", "winnum", 4, pipe), 4);
    EXPECT_FALSE(WritePrivateProfileString("config", "winnum", "9", pipe));
    EXPECT_TRUE(std::filesystem::is_fifo(pipe));
}

TEST(PrivateProfileWrite, ReadOnlyAndUnreadableFilesAreLeftAlone) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "permission checks do not apply to root";
    testsupport::TempDir dir;
    const std::string readOnly = dir.file("ro.ini");
    writeFile(readOnly, "[config]\r\nwinnum=4\r\n");
    ::chmod(readOnly.c_str(), 0444);
    EXPECT_FALSE(WritePrivateProfileString("config", "winnum", "9", readOnly));
    EXPECT_EQ(GetPrivateProfileInt("config", "winnum", 0, readOnly), 4);
    const std::string unreadable = dir.file("wo.ini");
    writeFile(unreadable, "[config]\r\nwinnum=4\r\n");
    ::chmod(unreadable.c_str(), 0200);
    EXPECT_FALSE(WritePrivateProfileString("config", "file0", "x", unreadable));
    ::chmod(unreadable.c_str(), 0600);
    EXPECT_EQ(readFile(unreadable), "[config]\r\nwinnum=4\r\n");
}

TEST(PrivateProfileWrite, RewriteKeepsPermissionsAndSymbolicLinks) {
    testsupport::TempDir dir;
    const std::string target = dir.file("real.ini");
    writeFile(target, "[config]\r\nwinnum=4\r\n");
    ::chmod(target.c_str(), 0640);
    const std::string link = dir.file("set.ini");
    std::filesystem::create_symlink(target, link);

    ASSERT_TRUE(WritePrivateProfileString("config", "winnum", "9", link));
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(readFile(target), "[config]\r\nwinnum=9\r\n");
    struct stat info {};
    ASSERT_EQ(::stat(target.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
    // No temporary files are left behind.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()),
                            std::filesystem::directory_iterator()),
              2);
}

TEST(PrivateProfileWrite, RandomGarbageFilesNeverLoseTheirBytes) {
    testsupport::TempDir dir;
    const std::string path = dir.file("set.ini");
    std::mt19937 random(1234);
    const char alphabet[] = "[]=;\"' \t\r\nabcAB0x-\xff";
    for (int round = 0; round < 200; ++round) {
        std::string bytes(random() % 200, ' ');
        for (char& c : bytes)
            c = alphabet[random() % (sizeof alphabet - 1)];
        writeFile(path, bytes);
        // Reads of anything must not crash; the value read is some substring of the file.
        const std::string value = get(path, "a", "b", "");
        EXPECT_TRUE(value.empty() || bytes.find(value) != std::string::npos);
        ASSERT_TRUE(WritePrivateProfileString("config", "winnum", "9", path));
        EXPECT_EQ(GetPrivateProfileInt("config", "winnum", 0, path), 9) << "round " << round;
        // A round trip through the document without changes gives the same bytes.
        EXPECT_EQ(platform::ini::IniDocument::parse(bytes).text(), bytes);
    }
}
