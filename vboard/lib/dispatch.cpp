// The descriptor table and the calls that the libc entry points hand over.
#include "dispatch.h"

#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/sysmacros.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "devices.h"
#include "vboard/lirc.h"
#include "vboard/state.h"

namespace vboard {

namespace {

// Descriptors at or above this number are never emulated.
constexpr int kMaxFds = 4096;
// memfd name of an emulated descriptor: "vboard:<open flags>:<path>", so that
// a program started with such a descriptor (a shell redirection) finds it.
constexpr const char kMemfdTag[] = "vboard:";
constexpr const char kMemfdLinkPrefix[] = "/memfd:vboard:";

const DeviceType *const kDeviceTypes[] = {&kMtdDevice,    &kProcMtdFile,  &kI2cDevice,    &kBspDevice,
                                          &kLircDevice,   &kGpioDevice,   &kTtyDevice,    &kDrvUartDevice,
                                          &kMemTallyFile, &kKallsymsFile, &kCbagentDevice};

const SyscallModel *const kSyscallModels[] = {&kClockSyscallModel, &kInitModuleSyscallModel};

// On the real-kernel board (scripts/vm) the kernel and the board module serve
// these; the library passes them through and models only the board-only rest.
constexpr const char kRealKernelEnv[] = "VBOARD_REAL_KERNEL";
const void *const kKernelServed[] = {&kMtdDevice,    &kProcMtdFile,           &kI2cDevice, &kBspDevice, &kLircDevice,
                                     &kKallsymsFile, &kInitModuleSyscallModel};

bool served_by_kernel(const void *model)
{
    static const bool real_kernel = std::getenv(kRealKernelEnv) != nullptr;
    return real_kernel &&
           std::find(std::begin(kKernelServed), std::end(kKernelServed), model) != std::end(kKernelServed);
}

// An emulated descriptor and the memfd inode it was registered with: a
// descriptor that libc closed behind our back (fclose of an fdopen stream)
// and that the kernel handed out again is then recognised as not ours.
struct Slot {
    std::shared_ptr<EmulatedFile> file;
    uint64_t inode = 0;
};

std::mutex table_lock;
Slot table[kMaxFds];
std::atomic<int> live_count{0};

// A fork while another thread holds the table would leave the child's copy
// locked for good (its first emulated call hangs): the fork waits for the
// table, and parent and child both let it go.
void lock_table_for_fork() { table_lock.lock(); }
void unlock_table_after_fork() { table_lock.unlock(); }
[[maybe_unused]] const int table_fork_guard = pthread_atfork(lock_table_for_fork, unlock_table_after_fork,
                                                             unlock_table_after_fork);

// Empties a slot and hands its file back, to be dropped once the table is
// let go: a file's destructor may wait for a thread that uses the table (a
// terminal's relay draining its output on close).
std::shared_ptr<EmulatedFile> release_slot(Slot *slot)
{
    if (slot->file) {
        live_count.fetch_sub(1, std::memory_order_release);
    }
    return std::move(slot->file);
}

std::shared_ptr<EmulatedFile> lookup(int fd)
{
    if (live_count.load(std::memory_order_acquire) == 0 || fd < 0 || fd >= kMaxFds) {
        return nullptr;
    }
    std::shared_ptr<EmulatedFile> stale; // dropped after the lock
    std::lock_guard<std::mutex> guard(table_lock);
    Slot &slot = table[fd];
    if (slot.file && vb_real_inode(fd) != slot.inode) {
        stale = release_slot(&slot);
    }
    return slot.file;
}

void put(int fd, std::shared_ptr<EmulatedFile> file)
{
    uint64_t inode = file ? vb_real_inode(fd) : 0;
    std::shared_ptr<EmulatedFile> old; // dropped after the lock
    std::lock_guard<std::mutex> guard(table_lock);
    old = release_slot(&table[fd]);
    if (file) {
        live_count.fetch_add(1, std::memory_order_release);
    }
    table[fd].file = std::move(file);
    table[fd].inode = inode;
}

// Built on first use: the constructor below may run before this file's
// static objects are initialised, and it must outlive threads still at work.
Journal &process_journal()
{
    static Journal *journal = new Journal;
    return *journal;
}

long fail(int error)
{
    errno = error;
    return -1;
}

long finish(long result) { return result < 0 ? fail(static_cast<int>(-result)) : result; }

const char *state_dir()
{
    const char *dir = std::getenv(kStateEnv);
    return dir && *dir == '/' ? dir : nullptr;
}

const DeviceType *device_type_of(const char *path)
{
    if (!path || (std::strncmp(path, "/dev/", 5) != 0 && std::strncmp(path, "/proc/", 6) != 0)) {
        return nullptr;
    }
    std::string p(path);
    for (const DeviceType *type : kDeviceTypes) {
        if (type->matches(p) && !served_by_kernel(type)) {
            return type;
        }
    }
    return nullptr;
}

std::string flags_text(int flags)
{
    static const struct {
        int bit;
        const char *name;
    } kNames[] = {{O_CREAT, "O_CREAT"},   {O_EXCL, "O_EXCL"},         {O_NOCTTY, "O_NOCTTY"}, {O_TRUNC, "O_TRUNC"},
                  {O_APPEND, "O_APPEND"}, {O_NONBLOCK, "O_NONBLOCK"}, {O_SYNC, "O_SYNC"},     {O_CLOEXEC, "O_CLOEXEC"}};
    int acc = flags & O_ACCMODE;
    std::string text = acc == O_RDONLY ? "O_RDONLY" : acc == O_WRONLY ? "O_WRONLY" : "O_RDWR";
    for (const auto &n : kNames) {
        if (flags & n.bit) {
            text += "|";
            text += n.name;
        }
    }
    return text;
}

bool readable(const EmulatedFile &f) { return (f.flags() & O_ACCMODE) != O_WRONLY; }
bool writable(const EmulatedFile &f) { return (f.flags() & O_ACCMODE) != O_RDONLY; }

int load_context(const char *dir, DeviceContext *context)
{
    std::string error;
    if (load_state_board(dir, &context->board, &error) != 0) {
        return -ENODEV;
    }
    context->dir = dir;
    journal_bind(&process_journal(), dir);
    context->journal = &process_journal();
    return 0;
}

int make_memfd(const std::string &name, int flags)
{
    return static_cast<int>(::memfd_create(name.c_str(), (flags & O_CLOEXEC) ? MFD_CLOEXEC : 0));
}

int memfd_or_error(const std::string &name, int flags)
{
    int fd = make_memfd(name, flags);
    return fd < 0 ? -errno : fd;
}

int serve_content(const std::string &path, const std::string &content, int flags)
{
    int fd = make_memfd("vboard-content:" + path, flags);
    if (fd < 0) {
        return -errno;
    }
    size_t done = 0;
    while (done < content.size()) {
        ssize_t n = ::pwrite(fd, content.data() + done, content.size() - done, static_cast<off_t>(done));
        if (n <= 0) {
            vb_real_close(fd);
            return -EIO;
        }
        done += static_cast<size_t>(n);
    }
    return fd;
}

// Opens an emulated path: a descriptor, or a negative errno value.
int open_emulated(const DeviceType &type, const char *dir, const std::string &path, int flags, bool journal)
{
    DeviceContext context;
    int rc = load_context(dir, &context);
    if (rc != 0) {
        return rc;
    }
    std::shared_ptr<EmulatedFile> file;
    std::string content;
    rc = type.open(context, path, flags, &file, &content);
    int fd = rc;
    if (rc == 0 && !file) {
        fd = serve_content(path, content, flags);
    } else if (rc == 0) {
        std::string memfd_name = kMemfdTag + std::to_string(flags) + ":" + path;
        fd = file->is_channel() ? file->open_channel(flags) : memfd_or_error(memfd_name, flags);
        if (fd >= kMaxFds) {
            vb_real_close(fd);
            fd = -EMFILE;
        } else if (fd >= 0) {
            put(fd, std::move(file));
        }
    }
    if (journal) {
        journal_line(context.journal,
                     "open " + path + " " + flags_text(flags) + (fd < 0 ? result_text(fd) : std::string()));
    }
    return fd;
}

void adopt(const char *dir, int fd, const std::string &path, int flags)
{
    const DeviceType *type = device_type_of(path.c_str());
    DeviceContext context;
    std::shared_ptr<EmulatedFile> file;
    std::string content;
    if (type && load_context(dir, &context) == 0 && type->open(context, path, flags, &file, &content) == 0 && file) {
        put(fd, std::move(file));
    }
}

// A program started with emulated descriptors (inherited across exec) gets
// them back into its table.
void adopt_inherited_descriptors()
{
    const char *dir = state_dir();
    if (!dir) {
        return;
    }
    std::string channels = state_path(dir, kIrChannelDir) + "/";
    DIR *fds = ::opendir("/proc/self/fd");
    if (!fds) {
        return;
    }
    int own = ::dirfd(fds);
    while (struct dirent *entry = ::readdir(fds)) {
        int fd = std::atoi(entry->d_name);
        char link[512];
        ssize_t n = ::readlinkat(own, entry->d_name, link, sizeof link - 1);
        if (fd == own || fd >= kMaxFds || n <= 0) {
            continue;
        }
        link[n] = '\0';
        if (std::strncmp(link, channels.c_str(), channels.size()) == 0) {
            adopt(dir, fd, kIrDevicePath, O_RDONLY); // the receiver's FIFOs
            continue;
        }
        size_t prefix = sizeof kMemfdLinkPrefix - 1;
        if (std::strncmp(link, kMemfdLinkPrefix, prefix) != 0) {
            continue;
        }
        char *colon = std::strchr(link + prefix, ':');
        char *suffix = colon ? std::strstr(colon, " (deleted)") : nullptr;
        if (!colon || !suffix) {
            continue;
        }
        *suffix = '\0';
        adopt(dir, fd, colon + 1, std::atoi(link + prefix));
    }
    ::closedir(fds);
}

__attribute__((constructor)) void on_load() { adopt_inherited_descriptors(); }

// Runs op on the descriptor's file position (devices without one ignore it).
template <typename Op> ssize_t at_position(int fd, EmulatedFile &file, Op op)
{
    if (file.size() < 0) {
        return op(0);
    }
    std::lock_guard<std::mutex> guard(file.position_lock());
    int64_t pos = vb_real_lseek(fd, 0, SEEK_CUR);
    ssize_t n = op(static_cast<uint64_t>(pos));
    if (n > 0) {
        vb_real_lseek(fd, pos + n, SEEK_SET);
    }
    return n;
}

} // namespace

std::string errno_text(int error)
{
    const char *name = ::strerrorname_np(error);
    return name ? name : std::to_string(error);
}

std::string result_text(long result)
{
    return result >= 0 ? " = " + std::to_string(result) : " = -1 " + errno_text(static_cast<int>(-result));
}

void journal_ioctl(Journal *journal, const std::string &path, const std::string &what, int result)
{
    journal_line(journal, "ioctl " + path + " " + what + result_text(result));
}

} // namespace vboard

using namespace vboard;

extern "C" {

int vb_open(const char *path, int flags, mode_t, int *result)
{
    const char *dir = state_dir();
    const DeviceType *type = dir ? device_type_of(path) : nullptr;
    if (!type) {
        return 0;
    }
    *result = static_cast<int>(finish(open_emulated(*type, dir, path, flags, true)));
    return 1;
}

// Files of emulated devices are read and written through their descriptor's
// model; kernel text files are plain memory files.
static ssize_t cookie_read(void *cookie, char *buf, size_t n)
{
    return vb_read(static_cast<int>(reinterpret_cast<intptr_t>(cookie)), buf, n);
}

static ssize_t cookie_write(void *cookie, const char *buf, size_t n)
{
    ssize_t rc = vb_write(static_cast<int>(reinterpret_cast<intptr_t>(cookie)), buf, n);
    return rc < 0 ? 0 : rc;
}

static int cookie_seek(void *cookie, off64_t *offset, int whence)
{
    int64_t pos = vb_lseek(static_cast<int>(reinterpret_cast<intptr_t>(cookie)), *offset, whence);
    if (pos < 0) {
        return -1;
    }
    *offset = pos;
    return 0;
}

static int cookie_close(void *cookie)
{
    int fd = static_cast<int>(reinterpret_cast<intptr_t>(cookie));
    vb_forget(fd);
    return vb_real_close(fd);
}

static int fopen_flags(const char *mode)
{
    int flags = O_RDONLY;
    switch (mode[0]) {
    case 'w':
        flags = O_WRONLY | O_CREAT | O_TRUNC;
        break;
    case 'a':
        flags = O_WRONLY | O_CREAT | O_APPEND;
        break;
    default:
        break;
    }
    for (const char *m = mode + 1; *m; ++m) {
        if (*m == '+') {
            flags = (flags & ~O_ACCMODE) | O_RDWR;
        } else if (*m == 'e') {
            flags |= O_CLOEXEC;
        } else if (*m == 'x') {
            flags |= O_EXCL;
        }
    }
    return flags;
}

int vb_fopen(const char *path, const char *mode, FILE **result)
{
    const char *dir = state_dir();
    const DeviceType *type = dir && mode ? device_type_of(path) : nullptr;
    if (!type) {
        return 0;
    }
    *result = nullptr;
    int fd = static_cast<int>(finish(open_emulated(*type, dir, path, fopen_flags(mode), true)));
    if (fd < 0) {
        return 1;
    }
    if (!vb_is_emulated(fd)) {
        *result = ::fdopen(fd, mode);
    } else {
        cookie_io_functions_t io = {cookie_read, cookie_write, cookie_seek, cookie_close};
        *result = ::fopencookie(reinterpret_cast<void *>(static_cast<intptr_t>(fd)), mode, io);
    }
    if (!*result) {
        int error = errno;
        vb_forget(fd);
        vb_real_close(fd);
        errno = error;
    }
    return 1;
}

int vb_is_emulated(int fd) { return lookup(fd) != nullptr; }

ssize_t vb_read(int fd, void *buf, size_t n)
{
    std::shared_ptr<EmulatedFile> f = lookup(fd);
    if (!f || !readable(*f)) {
        return fail(EBADF);
    }
    if (f->is_channel()) {
        return finish(f->read_channel(fd, buf, n));
    }
    return finish(at_position(fd, *f, [&](uint64_t pos) { return f->read_at(pos, buf, n); }));
}

ssize_t vb_write(int fd, const void *buf, size_t n)
{
    std::shared_ptr<EmulatedFile> f = lookup(fd);
    if (!f || !writable(*f)) {
        return fail(EBADF);
    }
    if (f->is_channel()) {
        return finish(f->write_channel(fd, buf, n));
    }
    return finish(at_position(fd, *f, [&](uint64_t pos) { return f->write_at(pos, buf, n); }));
}

ssize_t vb_pread(int fd, void *buf, size_t n, int64_t offset)
{
    std::shared_ptr<EmulatedFile> f = lookup(fd);
    if (!f || !readable(*f)) {
        return fail(EBADF);
    }
    if (f->size() < 0) {
        return fail(ESPIPE);
    }
    return offset < 0 ? fail(EINVAL) : finish(f->read_at(static_cast<uint64_t>(offset), buf, n));
}

ssize_t vb_pwrite(int fd, const void *buf, size_t n, int64_t offset)
{
    std::shared_ptr<EmulatedFile> f = lookup(fd);
    if (!f || !writable(*f)) {
        return fail(EBADF);
    }
    if (f->size() < 0) {
        return fail(ESPIPE);
    }
    return offset < 0 ? fail(EINVAL) : finish(f->write_at(static_cast<uint64_t>(offset), buf, n));
}

int64_t vb_lseek(int fd, int64_t offset, int whence)
{
    std::shared_ptr<EmulatedFile> f = lookup(fd);
    if (!f) {
        return fail(EBADF);
    }
    if (f->size() < 0) {
        return fail(ESPIPE);
    }
    std::lock_guard<std::mutex> guard(f->position_lock());
    int64_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? vb_real_lseek(fd, 0, SEEK_CUR) : f->size();
    if (whence != SEEK_SET && whence != SEEK_CUR && whence != SEEK_END) {
        return fail(EINVAL);
    }
    int64_t pos = base + offset;
    return pos < 0 ? fail(EINVAL) : vb_real_lseek(fd, pos, SEEK_SET);
}

// Requests that the kernel answers for every descriptor, before any driver.
static bool is_generic_request(unsigned long request)
{
    return request == FIONBIO || request == FIOASYNC || request == FIOCLEX || request == FIONCLEX;
}

int vb_ioctl(int fd, unsigned long request, void *arg)
{
    std::shared_ptr<EmulatedFile> f = lookup(fd);
    if (f && is_generic_request(request)) {
        return vb_real_ioctl(fd, request, arg);
    }
    if (f && f->is_channel()) {
        return static_cast<int>(finish(f->ioctl_channel(fd, request, arg)));
    }
    return f ? static_cast<int>(finish(f->ioctl(request, arg))) : static_cast<int>(fail(EBADF));
}

void vb_stat_fields(int fd, mode_t *mode, dev_t *rdev)
{
    std::shared_ptr<EmulatedFile> f = lookup(fd);
    *mode = S_IFCHR | 0660;
    *rdev = f ? f->rdev() : 0;
}

int vb_path_stat(const char *path, mode_t *mode, dev_t *rdev)
{
    const char *dir = state_dir();
    const DeviceType *type = dir ? device_type_of(path) : nullptr;
    if (!type) {
        return 0;
    }
    DeviceContext context;
    std::shared_ptr<EmulatedFile> file;
    std::string content;
    int rc = load_context(dir, &context);
    if (rc == 0) {
        rc = type->open(context, path, O_RDONLY, &file, &content);
    }
    if (rc != 0) {
        return static_cast<int>(fail(-rc));
    }
    *mode = file ? S_IFCHR | 0660 : S_IFREG | 0444;
    *rdev = file ? file->rdev() : 0;
    return 1;
}

void vb_forget(int fd)
{
    std::shared_ptr<EmulatedFile> f = lookup(fd);
    if (!f) {
        return;
    }
    put(fd, nullptr);
    journal_line(&process_journal(), "close " + f->path());
}

void vb_forget_range(unsigned first, unsigned last)
{
    for (unsigned fd = first; fd <= last && fd < static_cast<unsigned>(kMaxFds); ++fd) {
        vb_forget(static_cast<int>(fd));
    }
}

void vb_duplicated(int oldfd, int newfd)
{
    if (newfd < 0 || newfd >= kMaxFds) {
        return;
    }
    std::shared_ptr<EmulatedFile> f = lookup(oldfd);
    if (f || lookup(newfd)) {
        put(newfd, f);
    }
}

void vb_line_settings(int fd, const void *termios)
{
    std::shared_ptr<EmulatedFile> f = lookup(fd);
    if (f) {
        f->line_settings(termios);
    }
}

int vb_syscall(long number, const long args[6], long *result)
{
    int fd = static_cast<int>(args[0]);
    switch (number) {
    case SYS_read:
        if (!vb_is_emulated(fd))
            return 0;
        *result = vb_read(fd, reinterpret_cast<void *>(args[1]), static_cast<size_t>(args[2]));
        return 1;
    case SYS_write:
        if (!vb_is_emulated(fd))
            return 0;
        *result = vb_write(fd, reinterpret_cast<const void *>(args[1]), static_cast<size_t>(args[2]));
        return 1;
    case SYS_ioctl:
        if (!vb_is_emulated(fd))
            return 0;
        *result = vb_ioctl(fd, static_cast<unsigned long>(args[1]), reinterpret_cast<void *>(args[2]));
        return 1;
    case SYS_close:
        if (!vb_is_emulated(fd))
            return 0;
        vb_forget(fd);
        *result = vb_real_close(fd);
        return 1;
    default:
        break;
    }
    const char *dir = state_dir();
    for (const SyscallModel *model : kSyscallModels) {
        if (dir && model->number == number && !served_by_kernel(model)) {
            journal_bind(&process_journal(), dir);
            *result = finish(model->call(dir, &process_journal(), args));
            return 1;
        }
    }
    return 0;
}

} // extern "C"
