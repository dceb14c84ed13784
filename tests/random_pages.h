// Random pages and keyword lines made of the pieces that a harvester gets
// wrong, and real pages saved in a folder named at run time.
#ifndef TALVERON_TESTS_RANDOM_PAGES_H
#define TALVERON_TESTS_RANDOM_PAGES_H

#include <random>
#include <string>
#include <vector>

std::string RandomPage(std::mt19937& rng, int pieces);
std::string RandomKeywords(std::mt19937& rng);

// A page of 2 * `count` anchors with Shift_JIS text between them: records
// http://sI.jp/ and http://tI.jp/a.html for I from 0.
std::string ManyAnchors(int count);


// Real pages are optional: the folder named by the environment variable
// TALVERON_PAGES_DIR, or "" when it is unset or empty.
std::string RealPagesDir();
// What to do to run the tests on real pages, for their skip messages.
extern const char kRealPagesHint[];
// Names of the real pages (*.html) in RealPagesDir(), sorted, and one page's bytes.
std::vector<std::string> RealPageNames();
std::string ReadRealPage(const std::string& name);

#endif
