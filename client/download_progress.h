// cnxd-cli download: a firmware download followed through the log lines
// the daemon prints while it runs, shown as a progress bar on a terminal
// or as one line per step otherwise.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace cnxd::cli {

class download_progress {
public:
    enum class phase {
        asked,     // the command line went; the download has not begun
        running,   // the daemon's download thread sends the image
        complete,  // the modem took the image
        failed,    // the download ended without it
    };

    // The download of `file` into device `dev`, drawn on `out` (a bar when
    // `bar`); the daemon's reasons for a failure go to `err`.
    download_progress(uint32_t dev, std::string file, bool bar, FILE* out, FILE* err);

    // Log text as it arrives, in pieces of any size.
    void take(std::string_view text);
    phase now() const { return phase_; }
    bool ended() const { return phase_ == phase::complete || phase_ == phase::failed; }
    // What came on the log channel before the download began, for the
    // message when it never did.
    const std::string& before_start() const { return before_; }
    // Leaves the bar's line, so that a message that follows has its own.
    void finish_line();

private:
    void line(std::string_view text);
    void step(int percent);
    void say(FILE* to, std::string_view text);
    void draw();

    uint32_t dev_;
    std::string file_;
    bool bar_;
    FILE* out_;
    FILE* err_;
    phase phase_ = phase::asked;
    bool announced_ = false;  // "Download File FILE" seen
    bool bar_drawn_ = false;
    int percent_ = 0;
    std::string pending_;  // text of a line not yet ended
    std::string before_;
};

}  // namespace cnxd::cli
