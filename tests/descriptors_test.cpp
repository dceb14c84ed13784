// No path of the search or the settings file leaves a descriptor open: the
// process's open descriptors are counted before and after, on the real file
// system.
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "framework/cstring.h"
#include "api/export.h"
#include "lifecycle/module_state.h"
#include "settings/settings.h"

namespace {

int OpenDescriptors() {
    int n = 0;
    if (DIR* dir = opendir("/proc/self/fd")) {
        while (readdir(dir)) ++n;
        closedir(dir);
    }
    return n;
}

int Search(const char* path) {
    return BEGIN_SEARCH_ADD(CString(path).Detach(), CString("abc").Detach(), 0, 0);
}

TEST(Descriptors, NoneLeftOpenOnAnyPath) {
    char pattern[] = "/tmp/talveron-fd-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    std::string dir = pattern;
    char here[4096];
    ASSERT_NE(getcwd(here, sizeof here), nullptr);
    ASSERT_EQ(chdir(dir.c_str()), 0);
    std::ofstream("page.html") << "<a href=\"http://a.jp\"><a href=\"http://abc.jp\">";
    mkdir("sub", 0755);
    int before = OpenDescriptors();

    EXPECT_EQ(Search("page.html"), 0);   // a completed search
    EXPECT_EQ(Search("missing"), -1);    // no input
    EXPECT_EQ(Search("sub"), -1);        // a directory as input
    chmod("OUT.TXT", 0444);
    EXPECT_EQ(Search("page.html"), -1);  // OUT.TXT cannot be opened
    unlink("OUT.TXT");
    symlink("/dev/full", "OUT.TXT");
    EXPECT_EQ(Search("page.html"), 0);   // every record write fails
    LoadSettings();                      // no settings file
    SaveSettings();
    LoadSettings();
    unlink(SETTINGS_FILE_NAME);
    symlink("/dev/full", SETTINGS_FILE_NAME);
    SaveSettings();                      // writes fail
    EXPECT_EQ(OpenDescriptors(), before);

    ASSERT_EQ(chdir(here), 0);
    std::system(("rm -rf " + dir).c_str());
}

}  // namespace
