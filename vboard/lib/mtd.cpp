// "/dev/mtd0".."/dev/mtd64" on the NAND model, and "/proc/mtd".
#include <fcntl.h>
#include <sys/ioctl.h>
// after sys/ioctl.h, which it needs
#include <mtd/mtd-abi.h>
#include <sys/sysmacros.h>

#include <cstring>
#include <mutex>
#include <vector>

#include "board_link.h"
#include "devices.h"
#include "vboard/nand.h"

namespace vboard {

namespace {

// The board's MTD driver request that brackets partition writes; its
// argument is the value partition id * 2 + flag.
constexpr unsigned long kNocptRequest = 0xC0044D14;
constexpr unsigned kMtdCharMajor = 90;
constexpr const char kMtdPrefix[] = "/dev/mtd";

static_assert(MEMGETINFO == 0x80204D01, "MEMGETINFO");
static_assert(MEMERASE == 0x40084D02, "MEMERASE");
static_assert(MEMGETBADBLOCK == 0x40084D0B, "MEMGETBADBLOCK");

// The unit of "/dev/mtd<unit>", or -1.
int mtd_unit(const std::string &path)
{
    size_t prefix = sizeof kMtdPrefix - 1;
    if (path.compare(0, prefix, kMtdPrefix) != 0 || path.size() == prefix || path.size() > prefix + 2) {
        return -1;
    }
    int unit = 0;
    for (size_t i = prefix; i < path.size(); ++i) {
        if (path[i] < '0' || path[i] > '9') {
            return -1;
        }
        unit = unit * 10 + (path[i] - '0');
    }
    bool leading_zero = path[prefix] == '0' && path.size() > prefix + 1;
    return leading_zero || unit > kMaxPartitions ? -1 : unit;
}

const char *request_name(unsigned long request)
{
    switch (request) {
    case MEMGETINFO:
        return "MEMGETINFO";
    case MEMERASE:
        return "MEMERASE";
    case MEMGETBADBLOCK:
        return "MEMGETBADBLOCK";
    case kNocptRequest:
        return "NOCPT";
    default:
        return nullptr;
    }
}

// The errno a board file makes this request fail with, or 0. The first
// `after` matching requests of a process succeed, every later one fails.
int injected_error(const BoardConfig &board, int unit, const char *request)
{
    static std::mutex lock;
    static std::vector<uint64_t> seen;
    std::lock_guard<std::mutex> hold(lock);
    seen.resize(board.ioctl_faults.size());
    for (size_t i = 0; i < board.ioctl_faults.size(); ++i) {
        const IoctlFault &f = board.ioctl_faults[i];
        if (f.unit == unit && f.request == request && ++seen[i] > f.after) {
            return f.error;
        }
    }
    return 0;
}

std::string hex32(uint64_t v) { return format("0x%08llx", static_cast<unsigned long long>(v)); }

class MtdFile : public EmulatedFile {
public:
    MtdFile(const std::string &path, int flags, const MtdRegion &region) : EmulatedFile(path, flags), region_(region) {}
    ~MtdFile() override { nand_close(&nand_); }

    int start(const DeviceContext &context)
    {
        std::string error;
        if (nand_open(&nand_, context.dir, context.journal, &error) != 0) {
            return -ENODEV;
        }
        nand_.power_cut = power_cut_board;
        return 0;
    }

    ssize_t read_at(uint64_t pos, void *buf, size_t n) override { return nand_read(&nand_, region_, pos, buf, n); }

    ssize_t write_at(uint64_t pos, const void *buf, size_t n) override
    {
        return nand_program(&nand_, region_, pos, buf, n);
    }

    int64_t size() const override { return static_cast<int64_t>(region_.size); }

    dev_t rdev() const override { return makedev(kMtdCharMajor, static_cast<unsigned>(region_.unit) * 2); }

    int ioctl(unsigned long request, void *arg) override
    {
        const char *name = request_name(request);
        int injected = name ? injected_error(nand_.board, region_.unit, name) : 0;
        if (injected) {
            journal_line(nand_.journal, "fault ioctl " + path() + " " + name + " " + errno_text(injected));
            journal_ioctl(nand_.journal, path(), name, -injected);
            return -injected;
        }
        switch (request) {
        case MEMGETINFO:
            return get_info(static_cast<mtd_info_user *>(arg));
        case MEMERASE:
            return erase(static_cast<const erase_info_user *>(arg));
        case MEMGETBADBLOCK:
            return bad_block(static_cast<const int64_t *>(arg));
        case kNocptRequest:
            return nocpt(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(arg)));
        default: {
            int rc = -ENOTTY;
            journal_ioctl(nand_.journal, path(), format("0x%08lx", request), rc);
            return rc;
        }
        }
    }

private:
    int get_info(mtd_info_user *info)
    {
        int rc = 0;
        if (!info) {
            rc = -EFAULT;
        } else {
            std::memset(info, 0, sizeof *info);
            info->type = MTD_NANDFLASH;
            info->flags = MTD_CAP_NANDFLASH;
            info->size = static_cast<uint32_t>(region_.size);
            info->erasesize = nand_.board.nand.erasesize;
            info->writesize = nand_.board.nand.writesize;
            info->oobsize = nand_.board.nand.oobsize;
        }
        journal_ioctl(nand_.journal, path(), "MEMGETINFO", rc);
        return rc;
    }

    int erase(const erase_info_user *range)
    {
        if (!range) {
            journal_ioctl(nand_.journal, path(), "MEMERASE", -EFAULT);
            return -EFAULT;
        }
        int rc = (flags() & O_ACCMODE) == O_RDONLY ? -EBADF : nand_erase(&nand_, region_, range->start, range->length);
        journal_ioctl(nand_.journal, path(), "MEMERASE " + hex32(range->start) + " " + hex32(range->length), rc);
        return rc;
    }

    int bad_block(const int64_t *offset)
    {
        int rc = -EFAULT;
        std::string what = "MEMGETBADBLOCK";
        if (offset) {
            what += " " + hex32(static_cast<uint64_t>(*offset));
            rc = *offset < 0 || static_cast<uint64_t>(*offset) >= region_.size
                     ? -EINVAL
                     : nand_is_bad(nand_, region_, static_cast<uint64_t>(*offset));
        }
        journal_ioctl(nand_.journal, path(), what, rc);
        return rc;
    }

    int nocpt(uint32_t value)
    {
        journal_ioctl(nand_.journal, path(), format("NOCPT mtd%u %u", value / 2, value % 2), 0);
        return 0;
    }

    MtdRegion region_;
    Nand nand_;
};

bool is_mtd_path(const std::string &path) { return mtd_unit(path) >= 0; }

int open_mtd(const DeviceContext &context, const std::string &path, int flags, std::shared_ptr<EmulatedFile> *file,
             std::string *)
{
    MtdRegion region;
    if (mtd_region(context.board, mtd_unit(path), &region) != 0) {
        return -ENOENT;
    }
    auto mtd = std::make_shared<MtdFile>(path, flags, region);
    int rc = mtd->start(context);
    if (rc == 0) {
        *file = mtd;
    }
    return rc;
}

bool is_proc_mtd(const std::string &path) { return path == "/proc/mtd"; }

int open_proc_mtd(const DeviceContext &context, const std::string &, int flags, std::shared_ptr<EmulatedFile> *,
                  std::string *content)
{
    if ((flags & O_ACCMODE) != O_RDONLY) {
        return -EACCES;
    }
    *content = proc_mtd_text(context.board);
    return 0;
}

} // namespace

const DeviceType kMtdDevice = {is_mtd_path, open_mtd};
const DeviceType kProcMtdFile = {is_proc_mtd, open_proc_mtd};

} // namespace vboard
