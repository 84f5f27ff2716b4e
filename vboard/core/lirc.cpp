#include "vboard/lirc.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <map>
#include <sstream>
#include <thread>

#include "common/le_bytes.h"
#include "common/text.h"
#include "vboard/state.h"

namespace vboard {

namespace {

constexpr size_t kWordBytes = 4;

struct IrKind {
    const char *name;
    uint32_t type;
};
const IrKind kKinds[] = {{"pulse", kIrPulse}, {"space", 0}, {"timeout", kIrTimeout}};

int parse_text(const std::string &text, std::vector<uint32_t> *words, std::string *error)
{
    std::istringstream in(text);
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        line = line.substr(0, line.find('#'));
        std::istringstream fields(line);
        std::string kind, value, extra;
        if (!(fields >> kind)) {
            continue;
        }
        const IrKind *match = nullptr;
        for (const IrKind &k : kKinds) {
            match = kind == k.name ? &k : match;
        }
        uint64_t duration = 0;
        if (!match || !(fields >> value) || !board::parse_number(value, kIrValueMask, &duration, board::kDecimal) ||
            (fields >> extra)) {
            *error = "line " + std::to_string(number) +
                     ": expected 'pulse N', 'space N' or 'timeout N' (N <= 16777215)";
            return -1;
        }
        words->push_back(match->type | static_cast<uint32_t>(duration));
    }
    return 0;
}

// The FIFOs of the open receivers; stale ones (their reader is gone) are removed.
class Receivers {
public:
    explicit Receivers(const std::string &dir) : dir_(state_path(dir, kIrChannelDir)) {}
    ~Receivers()
    {
        for (auto &entry : fds_) {
            ::close(entry.second);
        }
    }
    Receivers(const Receivers &) = delete;
    Receivers &operator=(const Receivers &) = delete;

    // Writes the words to every receiver; returns the number no receiver took.
    size_t deliver(const uint32_t *words, size_t count)
    {
        rescan();
        std::vector<bool> taken(count, false);
        for (auto it = fds_.begin(); it != fds_.end();) {
            bool gone = false;
            for (size_t i = 0; i < count && !gone; ++i) {
                uint8_t bytes[kWordBytes];
                le::store32(bytes, words[i]);
                ssize_t n = ::write(it->second, bytes, sizeof bytes);
                taken[i] = taken[i] || n == static_cast<ssize_t>(sizeof bytes);
                gone = n < 0 && errno == EPIPE; // a full buffer (EAGAIN) drops the word only
            }
            it = gone ? forget(it) : std::next(it);
        }
        size_t dropped = 0;
        for (bool t : taken) {
            dropped += t ? 0 : 1;
        }
        return dropped;
    }

private:
    using Map = std::map<std::string, int>;

    Map::iterator forget(Map::iterator it)
    {
        ::close(it->second);
        ::unlink((dir_ + "/" + it->first).c_str());
        return fds_.erase(it);
    }

    void rescan()
    {
        DIR *listing = ::opendir(dir_.c_str());
        if (!listing) {
            return;
        }
        // 64-bit entries: a 32-bit readdir fails on large directory offsets.
        while (const dirent64 *entry = ::readdir64(listing)) {
            std::string name = entry->d_name;
            if (name[0] == '.' || fds_.count(name) || name.find(".new") != std::string::npos) {
                continue;
            }
            std::string path = dir_ + "/" + name;
            int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            if (fd >= 0) {
                fds_[name] = fd;
            } else if (errno == ENXIO) {
                ::unlink(path.c_str()); // nobody reads it any more
            }
        }
        ::closedir(listing);
    }

    std::string dir_;
    Map fds_;
};

} // namespace

int parse_ir_capture(const std::string &bytes, IrFormat format, std::vector<uint32_t> *words, std::string *error)
{
    words->clear();
    if (format == IrFormat::Detect) {
        format = bytes.find('\0') != std::string::npos ? IrFormat::Raw : IrFormat::Text;
    }
    if (format == IrFormat::Text) {
        return parse_text(bytes, words, error);
    }
    if (bytes.size() % kWordBytes != 0) {
        *error = "raw capture of " + std::to_string(bytes.size()) + " bytes is not a whole number of 4-byte words";
        return -1;
    }
    for (size_t i = 0; i < bytes.size(); i += kWordBytes) {
        words->push_back(le::load32(reinterpret_cast<const uint8_t *>(bytes.data()) + i));
    }
    return 0;
}

uint32_t ir_word_time_us(uint32_t word)
{
    uint32_t type = word & kIrTypeMask;
    uint32_t value = word & kIrValueMask;
    if (type == 0 && value == kIrTimeoutSpace) {
        return kIrReceiverTimeoutUs;
    }
    return type == 0 || type == kIrPulse || type == kIrTimeout ? value : 0;
}

std::vector<uint64_t> ir_schedule(const std::vector<uint32_t> &words, double speed)
{
    std::vector<uint64_t> at;
    uint64_t total = 0;
    for (uint32_t w : words) {
        total += ir_word_time_us(w);
        at.push_back(static_cast<uint64_t>(static_cast<double>(total) / speed));
    }
    return at;
}

IrFeedResult ir_feed(const std::string &dir, const std::vector<uint32_t> &words, double speed, Journal *journal)
{
    IrFeedResult result;
    result.words = words.size();
    std::vector<uint64_t> at = ir_schedule(words, speed);
    Receivers receivers(dir);
    auto start = std::chrono::steady_clock::now();
    for (size_t i = 0; i < words.size();) {
        std::this_thread::sleep_until(start + std::chrono::microseconds(at[i]));
        // Every word that is due by now goes in one batch.
        uint64_t now = static_cast<uint64_t>(
            std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start).count());
        size_t end = i + 1;
        while (end < words.size() && at[end] <= now) {
            ++end;
        }
        result.dropped += receivers.deliver(&words[i], end - i);
        i = end;
    }
    journal_line(journal, format("feed lirc0 words %zu dropped %zu", result.words, result.dropped));
    return result;
}

} // namespace vboard
