#include "download_progress.h"

#include <algorithm>
#include <charconv>

namespace cnxd::cli {

namespace {

using phase = download_progress::phase;

// The daemon's lines of one download: its download thread's, and the
// report of the modem's answer to the end record. "%d" is the device.
constexpr std::string_view FILE_LINE = "Download File ";
constexpr std::string_view START_LINE = "Download Start";
constexpr const char* STEP_HEAD = "dev(%d) ";
constexpr std::string_view STEP_TAIL = "%[complete]";

struct end_line {
    const char* format;
    phase result;
};
constexpr end_line END_LINES[] = {
    {"download complete [dev index : %d]", phase::complete},
    {"download failed [dev index : %d]", phase::failed},
    {"download fail [dev index : %d]", phase::failed},
    {"crc error [dev index : %d]", phase::failed},
};

// The download thread's error lines ("[%-25s] ..." with its name, or the
// transfer wrapper's) say why a download fails; those of a session that
// could not begin (the file, the lock, the memory) are its last word.
constexpr std::string_view REASON_HEADS[] = {"[download_thread ", "[cm_binary_download "};
constexpr std::string_view LAST_REASONS[] = {" fail : ", "Failed to allocate memory"};

constexpr int BAR_WIDTH = 40;

std::string with_dev(const char* format, uint32_t dev)
{
    char text[64];
    std::snprintf(text, sizeof text, format, static_cast<int>(dev));
    return text;
}

template <size_t N>
bool starts_with_any(std::string_view text, const std::string_view (&heads)[N])
{
    return std::ranges::any_of(heads, [&](std::string_view h) { return text.starts_with(h); });
}

template <size_t N>
bool contains_any(std::string_view text, const std::string_view (&parts)[N])
{
    return std::ranges::any_of(parts, [&](std::string_view p) { return text.find(p) != std::string_view::npos; });
}

}  // namespace

download_progress::download_progress(uint32_t dev, std::string file, bool bar, FILE* out, FILE* err)
    : dev_(dev), file_(std::move(file)), bar_(bar), out_(out), err_(err)
{
}

void download_progress::take(std::string_view text)
{
    if (phase_ == phase::asked)
        before_.append(text);
    pending_.append(text);
    size_t from = 0;
    for (size_t nl; !ended() && (nl = pending_.find('\n', from)) != std::string::npos; from = nl + 1)
        line(std::string_view(pending_).substr(from, nl - from));
    pending_.erase(0, from);
}

void download_progress::line(std::string_view text)
{
    if (phase_ == phase::asked) {
        if (text.starts_with(FILE_LINE) && text.substr(FILE_LINE.size()) == file_) {
            announced_ = true;
        } else if (announced_ && text == START_LINE) {
            phase_ = phase::running;
            if (bar_)
                draw();
        }
        return;
    }
    const std::string head = with_dev(STEP_HEAD, dev_);
    if (text.starts_with(head) && text.ends_with(STEP_TAIL)) {
        const std::string_view digits = text.substr(head.size(), text.size() - head.size() - STEP_TAIL.size());
        int percent = 0;
        const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), percent);
        if (ec == std::errc{} && end == digits.data() + digits.size())
            step(percent);
        return;
    }
    for (const end_line& e : END_LINES) {
        if (text != with_dev(e.format, dev_))
            continue;
        if (e.result == phase::complete && bar_)
            step(100);
        phase_ = e.result;
        say(e.result == phase::complete ? out_ : err_, text);
        return;
    }
    if (starts_with_any(text, REASON_HEADS)) {
        if (contains_any(text, LAST_REASONS))
            phase_ = phase::failed;
        say(err_, text);
    }
}

void download_progress::step(int percent)
{
    if (percent <= percent_)
        return;
    percent_ = percent;
    if (bar_) {
        draw();
    } else {
        std::fprintf(out_, "dev %u: %d%%\n", dev_, percent);
        std::fflush(out_);
    }
}

// A line of the daemon's. While the download goes on it takes the bar's
// place, and the bar is drawn again below it; at the end the bar stays.
void download_progress::say(FILE* to, std::string_view text)
{
    if (ended()) {
        finish_line();
    } else if (bar_drawn_) {
        std::fputs("\r\033[K", out_);
        bar_drawn_ = false;
    }
    std::fflush(out_);
    std::fprintf(to, "%.*s\n", static_cast<int>(text.size()), text.data());
    std::fflush(to);
    if (bar_ && !ended())
        draw();
}

void download_progress::draw()
{
    const int filled = percent_ * BAR_WIDTH / 100;
    std::fprintf(out_, "\rdev %u [%s%s] %3d%%", dev_, std::string(static_cast<size_t>(filled), '#').c_str(),
                 std::string(static_cast<size_t>(BAR_WIDTH - filled), ' ').c_str(), percent_);
    std::fflush(out_);
    bar_drawn_ = true;
}

void download_progress::finish_line()
{
    if (bar_drawn_)
        std::fputc('\n', out_);
    bar_drawn_ = false;
}

}  // namespace cnxd::cli
