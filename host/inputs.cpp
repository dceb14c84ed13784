#include "host/inputs.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

InputWalker::InputWalker(const std::vector<std::string>& operands, bool allFiles,
                         void (*report)(const std::string&, int), std::FILE* namesFile)
    : operands_(operands), namesFile_(namesFile), allFiles_(allFiles), report_(report) {
    for (const std::string& operand : operands_) {
        struct stat st;
        if (operand != "-" && ::stat(operand.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) walksDirectories_ = true;
    }
}

InputWalker::~InputWalker() { std::free(name_); }

bool InputWalker::NextOperand(std::string& operand) {
    if (nextOperand_ < operands_.size()) {
        operand = operands_[nextOperand_++];
        return true;
    }
    if (!namesFile_) return false;
    for (;;) {
        ssize_t n = ::getdelim(&name_, &nameSize_, '\0', namesFile_);
        if (n <= 0) return false;
        if (name_[n - 1] == '\0') --n;
        if (n == 0) continue;  // an empty name names nothing
        operand.assign(name_, static_cast<std::size_t>(n));
        return true;
    }
}

bool InputWalker::Wanted(const std::string& name) const {
    if (allFiles_) return true;
    auto endsWith = [&](const char* suffix) {
        std::size_t n = std::strlen(suffix);
        return name.size() > n && strcasecmp(name.c_str() + name.size() - n, suffix) == 0;
    };
    return endsWith(".htm") || endsWith(".html");
}

bool InputWalker::Descend(const std::string& directory) {
    DIR* dir = ::opendir(directory.c_str());
    if (!dir) {
        if (report_) report_(directory, errno);
        return false;
    }
    Level level;
    level.path = directory.back() == '/' ? directory : directory + "/";
    while (dirent* entry = ::readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
        // Known at once (most file systems tell the type): links, and files
        // that are not pages, are left out here.
        unsigned char type = entry->d_type;
        if (type == DT_LNK || (type != DT_DIR && type != DT_UNKNOWN && (type != DT_REG || !Wanted(entry->d_name))))
            continue;
        level.entries.push_back({entry->d_name, type, static_cast<unsigned long long>(entry->d_ino)});
    }
    ::closedir(dir);
    std::sort(level.entries.begin(), level.entries.end());
    levels_.push_back(std::move(level));
    return true;
}

bool InputWalker::Next(Input& input) {
    for (;;) {
        // Inside a walk: the next entry of the deepest directory.
        while (!levels_.empty()) {
            Level& level = levels_.back();
            if (level.next == level.entries.size()) {
                levels_.pop_back();
                continue;
            }
            const Entry& entry = level.entries[level.next++];
            std::string path = level.path + entry.name;
            unsigned char type = entry.type;
            unsigned long long inode = entry.inode;
            if (type == DT_UNKNOWN) {
                struct stat st;
                if (::lstat(path.c_str(), &st) != 0) continue;  // gone since it was listed
                type = S_ISDIR(st.st_mode) ? DT_DIR : S_ISREG(st.st_mode) ? DT_REG : DT_UNKNOWN;
            }
            if (type == DT_DIR) {
                Descend(path);
                continue;
            }
            if (type == DT_REG && Wanted(path)) {
                input = {path, path, false, inode};
                return true;
            }
        }
        std::string operand;
        if (!NextOperand(operand)) return false;
        if (operand == "-") {
            input = {"-", "(standard input)", true};
            return true;
        }
        // A named input is followed through links; a directory is walked;
        // anything else is handed on, and opening it tells what is wrong.
        struct stat st;
        if (::stat(operand.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
            Descend(operand);
            continue;
        }
        input = {operand, operand, false};
        return true;
    }
}

long long CountInputs(const std::vector<std::string>& operands, bool allFiles) {
    InputWalker walker(operands, allFiles, nullptr);
    long long count = 0;
    Input input;
    while (walker.Next(input)) ++count;
    return count;
}
