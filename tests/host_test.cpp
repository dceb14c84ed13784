// The terminal host end to end, in a temporary directory on bytes the test
// writes.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace {

struct HostRun {
    int status;
    std::string out, err;
};

class HostTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/talveron-host-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { std::system(("chmod -R u+w " + dir_ + "; rm -rf " + dir_).c_str()); }

    static std::string Quote(const std::string& s) {
        std::string q = "'";
        for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
        return q + "'";
    }
    void Write(const std::string& name, const std::string& bytes) {
        std::ofstream(dir_ + "/" + name, std::ios::binary) << bytes;
    }
    std::string Read(const std::string& name) {
        std::ifstream file(dir_ + "/" + name, std::ios::binary);
        std::stringstream s;
        s << file.rdbuf();
        return s.str();
    }
    bool Exists(const std::string& name) { return access((dir_ + "/" + name).c_str(), F_OK) == 0; }

    HostRun Host(const std::vector<std::string>& args) {
        std::string command = "cd " + Quote(dir_) + " && " + Quote(TALVERON_HOST);
        for (const std::string& a : args) command += " " + Quote(a);
        command += " >stdout.txt 2>stderr.txt";
        int raw = std::system(command.c_str());
        HostRun run{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, Read("stdout.txt"), Read("stderr.txt")};
        unlink((dir_ + "/stdout.txt").c_str());
        unlink((dir_ + "/stderr.txt").c_str());
        return run;
    }
    std::string dir_;
};

const char kStart[] = "[ERROR] アドレスの取得を開始します。\n";

TEST_F(HostTest, HarvestsAndPrintsRecords) {
    Write("page.html", "<A HREF=\"http://a.jp/x.html\">A</A> <a href=\"http://b.jp\">B</a>");
    HostRun run = Host({"page.html"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "http://a.jp/x.html\nhttp://b.jp/\n");
    EXPECT_EQ(run.err, kStart);
    EXPECT_EQ(Read("OUT.TXT"), "http://a.jp/x.html\r\nhttp://b.jp/\r\n");
}

TEST_F(HostTest, PrintsManyRecordsAcrossReadBoundaries) {
    std::string page, expected;
    for (int i = 0; i < 20000; ++i) {
        std::string host = "site" + std::to_string(i * 7919 % 100003) + std::string(i % 13, 'w') + ".jp";
        page += "<a href=\"http://" + host + "\">" + std::string(i % 5, ' ');
        expected += "http://" + host + "/\n";
    }
    Write("page.html", page);
    HostRun run = Host({"-q", "page.html"});
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(run.out == expected);  // 20000 lines: no printing of a mismatch
    std::string file = Read("OUT.TXT");
    file.erase(std::remove(file.begin(), file.end(), '\r'), file.end());
    EXPECT_TRUE(file == expected);
}

TEST_F(HostTest, QuietHidesMessages) {
    Write("page.html", "<a href=\"http://b.jp\">");
    HostRun run = Host({"-q", "page.html"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, "http://b.jp/\n");
}

TEST_F(HostTest, KeywordsJoinWithSingleSpaces) {
    Write("page.html", "<a href=\"http://abc.jp\"><a href=\"http://def.jp\"><a href=\"http://ghi.jp\">");
    // "" leaves slot 1 empty; abc lands in slot 2 and still excludes.
    EXPECT_EQ(Host({"-q", "page.html", "", "abc"}).out, "http://def.jp/\nhttp://ghi.jp/\n");
    EXPECT_EQ(Host({"-q", "page.html", "def", "ghi"}).out, "http://abc.jp/\n");
    // Words beyond the sixth slot are dropped.
    EXPECT_EQ(Host({"-q", "page.html", "1", "2", "3", "4", "5", "6", "abc"}).out,
              "http://abc.jp/\nhttp://def.jp/\nhttp://ghi.jp/\n");
}

TEST_F(HostTest, KeywordLineOver255BytesIsCut) {
    Write("page.html", "<a href=\"http://abcd.jp\"><a href=\"http://abcx.jp\">");
    // 250 bytes, a space, then a word of which only "abcd" fits.
    HostRun run = Host({"-q", "page.html", std::string(250, 'k'), "abcdefgh", "abcx"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "http://abcx.jp/\n");
}

TEST_F(HostTest, MissingInputLeavesEmptyOutput) {
    Write("OUT.TXT", "old\r\n");
    HostRun run = Host({"missing.html"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, std::string(kStart) + "[エラーです。] ファイルが存在しません。\n");
    EXPECT_TRUE(Exists("OUT.TXT"));
    EXPECT_EQ(Read("OUT.TXT"), "");
}

TEST_F(HostTest, DirectoryAsInput) {
    mkdir((dir_ + "/sub").c_str(), 0755);
    HostRun run = Host({"sub"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, std::string(kStart) + "[エラーです。] ファイルが存在しません。\n");
}

TEST_F(HostTest, ReadOnlyOutputKeepsItsContents) {
    Write("page.html", "<a href=\"http://b.jp\">");
    Write("OUT.TXT", "http://old.jp/\r\n");
    chmod((dir_ + "/OUT.TXT").c_str(), 0444);
    HostRun run = Host({"page.html"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, std::string(kStart) + "[ERROR] 書出しファイルが開けない\n");
    EXPECT_EQ(Read("OUT.TXT"), "http://old.jp/\r\n");
}

TEST_F(HostTest, FullDeviceShowsErrnoPerRecord) {
    Write("page.html", "<a href=\"http://a.jp\"><a href=\"http://b.jp\">");
    ASSERT_EQ(symlink("/dev/full", (dir_ + "/OUT.TXT").c_str()), 0);
    HostRun run = Host({"page.html"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, std::string(kStart) + "[ERROR] errno\n[ERROR] errno\n");
}

TEST_F(HostTest, AddressThatNeverClosesIsDropped) {
    Write("page.html", "<a href=\"http://a.jp\">" "<a href=\"http://b.jp/" + std::string(100000, 'b'));
    HostRun run = Host({"page.html"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "http://a.jp/\n");
    EXPECT_EQ(run.err, kStart);
}

TEST_F(HostTest, BadUsage) {
    for (const std::vector<std::string>& args : {std::vector<std::string>{}, {"-q"}, {"-x", "page.html"}}) {
        HostRun run = Host(args);
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, "usage: talveron [-q] INPUT [KEYWORD...]\n");
        EXPECT_FALSE(Exists("OUT.TXT"));
    }
    HostRun help = Host({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("usage: talveron [-q] INPUT [KEYWORD...]\n", 0), 0u);
}

}  // namespace
