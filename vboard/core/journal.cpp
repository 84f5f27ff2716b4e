#include "vboard/journal.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <sstream>

#include "vboard/state.h"

namespace vboard {

namespace {

// Caller holds journal->lock.
bool ensure_open(Journal *journal)
{
    pid_t self = ::getpid();
    if (journal->fd >= 0 && journal->owner == self) {
        return true;
    }
    if (journal->fd >= 0) {
        ::close(journal->fd); // inherited from the parent: this process has its own lines
    }
    journal->fd = ::open(journal->path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    journal->owner = self;
    journal->last_key.clear();
    return journal->fd >= 0;
}

void write_all_at(int fd, const std::string &text, off_t offset)
{
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::pwrite(fd, text.data() + done, text.size() - done, offset + static_cast<off_t>(done));
        if (n <= 0) {
            return;
        }
        done += static_cast<size_t>(n);
    }
}

// Caller holds journal->lock and the file lock.
off_t end_of_file(int fd)
{
    struct stat st;
    return ::fstat(fd, &st) == 0 ? st.st_size : 0;
}

} // namespace

std::string format(const char *fmt, ...)
{
    char buf[512];
    va_list ap;
    va_start(ap, fmt);
    int n = std::vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    if (n < 0) {
        return "";
    }
    return std::string(buf, static_cast<size_t>(n) < sizeof buf ? static_cast<size_t>(n) : sizeof buf - 1);
}

void journal_bind(Journal *journal, const std::string &dir)
{
    std::lock_guard<std::mutex> guard(journal->lock);
    std::string path = state_path(dir, kJournal);
    if (path == journal->path) {
        return;
    }
    if (journal->fd >= 0) {
        ::close(journal->fd);
    }
    journal->fd = -1;
    journal->path = path;
    journal->last_key.clear();
}

void journal_line(Journal *journal, const std::string &line)
{
    std::lock_guard<std::mutex> guard(journal->lock);
    if (!ensure_open(journal)) {
        return;
    }
    ::flock(journal->fd, LOCK_EX);
    write_all_at(journal->fd, line + "\n", end_of_file(journal->fd));
    ::flock(journal->fd, LOCK_UN);
    journal->last_key.clear();
}

void journal_count(Journal *journal, const std::string &key, const char *unit, long long n)
{
    std::lock_guard<std::mutex> guard(journal->lock);
    if (!ensure_open(journal)) {
        return;
    }
    ::flock(journal->fd, LOCK_EX);
    off_t end = end_of_file(journal->fd);
    bool merge = journal->last_key == key && journal->last_end == end;
    long long count = merge ? journal->last_count + n : n;
    off_t at = merge ? journal->last_offset : end;
    std::string text = key + " " + unit + " " + std::to_string(count) + "\n";
    write_all_at(journal->fd, text, at);
    ::flock(journal->fd, LOCK_UN);
    journal->last_key = key;
    journal->last_count = count;
    journal->last_offset = at;
    journal->last_end = at + static_cast<off_t>(text.size());
}

std::vector<std::string> read_journal(const std::string &dir)
{
    std::vector<std::string> lines;
    std::string text;
    if (read_text_file(state_path(dir, kJournal), &text) != 0) {
        return lines;
    }
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        lines.push_back(line);
    }
    return lines;
}

} // namespace vboard
