// A search run against the in-memory files: the page lies at "page.html",
// OUT.TXT is read back from the fake file system.
#ifndef TALVERON_TESTS_SEARCH_FIXTURE_H
#define TALVERON_TESTS_SEARCH_FIXTURE_H

#include <gtest/gtest.h>

#include <string>

#include "framework/cstring.h"
#include "api/export.h"
#include "lifecycle/module_state.h"
#include "search/searcher.h"
#include "tests/fake_files.h"

// A searcher's sink that keeps the records.
struct GatheredRecords : SearchSink {
    std::string records;
    bool Records(const char* bytes, std::size_t length) override {
        records.append(bytes, length);
        return true;
    }
};

class SearchTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetModuleState();
        SetInputBlockSize(Searcher::kBlockSize);
    }
    void TearDown() override { SetInputBlockSize(Searcher::kBlockSize); }

    int Search(const std::string& path, const std::string& keywordLine, int arg3 = 0, int arg4 = 0) {
        return BEGIN_SEARCH_ADD(CString(path.data(), static_cast<int>(path.size())).Detach(),
                                CString(keywordLine.data(), static_cast<int>(keywordLine.size())).Detach(),
                                arg3, arg4);
    }

    // OUT.TXT after searching `page` for anchors.
    std::string Harvest(const std::string& page, const std::string& keywordLine = "") {
        fs.files["page.html"].data = page;
        EXPECT_EQ(Search("page.html", keywordLine), 0);
        return fs.files["OUT.TXT"].data;
    }

    FakeFiles fs;
};

#endif
