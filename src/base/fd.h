// Move-only owner of a file descriptor: closes it in its destructor and gives
// it up only through release().
#pragma once

#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>
#include <utility>

namespace cnxd {

class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept
    {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    ~UniqueFd() { reset(); }

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    explicit operator bool() const { return valid(); }

    int release() { return std::exchange(fd_, -1); }
    void reset(int fd = -1)
    {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = fd;
    }

private:
    int fd_ = -1;
};

// A stdio stream closed by its owner.
struct file_closer {
    void operator()(FILE* f) const { std::fclose(f); }
};
using unique_file = std::unique_ptr<FILE, file_closer>;

// The lines of a text file, read through stdio: the first iostream would
// set up the C++ locales, a few hundred kilobytes of memory the daemon has
// no other use for. A file that cannot be opened has no lines.
class FileLines {
public:
    explicit FileLines(const std::string& path) : f_(std::fopen(path.c_str(), "re")) {}

    // The next line without its newline; false at the end.
    bool next(std::string& line)
    {
        line.clear();
        if (!f_)
            return false;
        for (int c; (c = std::getc(f_.get())) != EOF;) {
            if (c == '\n')
                return true;
            line += static_cast<char>(c);
        }
        return !line.empty();
    }

private:
    unique_file f_;
};

}  // namespace cnxd
