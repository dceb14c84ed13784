// The terminal tool run as a user runs it, in a temporary directory of its
// own: talveron with arguments, around it a shell's redirections.
#ifndef TALVERON_TESTS_HOST_FIXTURE_H
#define TALVERON_TESTS_HOST_FIXTURE_H

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

struct HostRun {
    int status;  // the exit status, or 128 + the signal that ended it
    std::string out, err;
};

inline std::string Quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

class HostTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/talveron-host-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { std::system(("chmod -R u+w " + dir_ + "; rm -rf " + dir_).c_str()); }

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
    std::vector<std::string> Files() {
        std::string listing = Shell("ls -A");
        std::vector<std::string> names;
        std::istringstream in(listing);
        for (std::string name; std::getline(in, name);) names.push_back(name);
        return names;
    }
    // A shell command in the directory; its standard output.
    std::string Shell(const std::string& command) {
        std::string out;
        if (FILE* pipe = popen(("cd " + Quote(dir_) + " && " + command).c_str(), "r")) {
            char buffer[4096];
            for (std::size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
            pclose(pipe);
        }
        return out;
    }
    // talveron with `args`; `shell` goes around it (a pipe in front, say).
    HostRun Host(const std::vector<std::string>& args, const std::string& before = "",
                 const std::string& after = ">stdout.txt") {
        std::string command = "cd " + Quote(dir_) + " && " + before + Quote(TALVERON_HOST);
        for (const std::string& a : args) command += " " + Quote(a);
        command += " " + after + " 2>stderr.txt; echo $? >status.txt";
        std::system(command.c_str());
        HostRun run{std::stoi(Read("status.txt")), Read("stdout.txt"), Read("stderr.txt")};
        for (const char* name : {"stdout.txt", "stderr.txt", "status.txt"}) unlink((dir_ + "/" + name).c_str());
        return run;
    }
    std::string dir_;
};

#endif
