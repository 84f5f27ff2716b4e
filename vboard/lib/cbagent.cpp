// "/dev/cbagent": the callback driver. Per process a shared block of
// 2048-byte items (a korm block, so that the application maps it with
// x_kmem_block_map) and a queue of notifications raised by other processes
// (vboard/cbagent.h). The block and the queue are made at the process's first
// request, as stat and inherited descriptors open models too.
#include <dlfcn.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "cbagent.h"
#include "devices.h"
#include "vboard/cbagent.h"

namespace vboard {

namespace {

constexpr unsigned kMiscMajor = 10;
constexpr unsigned kCbagentMinor = 61;

static_assert(sizeof(CbItem) == kCbaItemBytes, "an item is 2048 bytes");

// The block functions of the process (libkorm), as the agent finds them too.
struct BlockFunctions {
    uint32_t (*alloc)(uint32_t) = nullptr;
    void *(*map)(uint32_t) = nullptr;
    int32_t (*unmap)(void *) = nullptr;
    int32_t (*free)(uint32_t) = nullptr;
};

BlockFunctions block_functions()
{
    BlockFunctions f;
    f.alloc = reinterpret_cast<uint32_t (*)(uint32_t)>(::dlsym(RTLD_DEFAULT, "x_kmem_block_alloc"));
    f.map = reinterpret_cast<void *(*)(uint32_t)>(::dlsym(RTLD_DEFAULT, "x_kmem_block_map"));
    f.unmap = reinterpret_cast<int32_t (*)(void *)>(::dlsym(RTLD_DEFAULT, "x_kmem_block_unmap"));
    f.free = reinterpret_cast<int32_t (*)(uint32_t)>(::dlsym(RTLD_DEFAULT, "x_kmem_block_free"));
    return f;
}

void write_item(CbItem *item, const CbaNote &note)
{
    item->nfy_fct = static_cast<uintptr_t>(note.fct);
    item->nfy_tag = note.tag;
    item->cb_info_sz = note.info_size;
    item->caller = note.caller;
    item->pid = note.pid;
    item->drv_type = note.drv_type;
    size_t n = note.info_size < sizeof item->cb_info ? note.info_size : sizeof item->cb_info;
    std::memcpy(item->cb_info, note.info, n);
}

class CbagentFile : public EmulatedFile {
public:
    CbagentFile(const std::string &path, int flags, const DeviceContext &context)
        : EmulatedFile(path, flags), dir_(context.dir), journal_(context.journal)
    {
    }

    ~CbagentFile() override
    {
        if (queue_ && owner_ == ::getpid()) { // a forked child's close leaves the parent's driver alone
            cba_close(queue_, dir_, journal_);
            blocks_.unmap(items_);
            blocks_.free(hmem_);
        }
    }

    dev_t rdev() const override { return makedev(kMiscMajor, kCbagentMinor); }

    int ioctl(unsigned long request, void *arg) override
    {
        auto *words = static_cast<CbaRequest *>(arg);
        switch (request) {
        case CBA_GET_CB_INFO:
            return get_cb_info(words);
        case CBA_FINISH:
            return finish();
        case CB_DONE:
            return done(words);
        default:
            journal_ioctl(journal_, path(), format("0x%08lx", request), -ENOTTY);
            return -ENOTTY;
        }
    }

private:
    // 0, or -errno when the block or the queue cannot be made.
    int ensure_driver()
    {
        std::lock_guard<std::mutex> guard(setup_lock_);
        if (queue_) {
            return 0;
        }
        blocks_ = block_functions();
        if (!blocks_.alloc || !blocks_.map || !blocks_.unmap || !blocks_.free) {
            return -ENOMEM;
        }
        hmem_ = blocks_.alloc(kCbaItems * kCbaItemBytes);
        items_ = hmem_ ? static_cast<CbItem *>(blocks_.map(hmem_)) : nullptr;
        int rc = items_ ? cba_create(dir_, ::getpid(), hmem_, &queue_) : -ENOMEM;
        if (rc != 0) {
            if (items_) {
                blocks_.unmap(items_);
            }
            if (hmem_) {
                blocks_.free(hmem_);
            }
            queue_ = nullptr;
            return rc;
        }
        owner_ = ::getpid();
        return 0;
    }

    int get_cb_info(CbaRequest *words)
    {
        int rc = !words ? -EFAULT : static_cast<int>(words->word[0]) != ::getpid() ? -EINVAL : ensure_driver();
        std::string what = "CBA_GET_CB_INFO";
        if (rc == 0) {
            CbaNote note;
            uint32_t index = 0;
            rc = cba_take(queue_, &note, &index);
            if (rc == 0) {
                write_item(&items_[index], note);
            }
            words->word[0] = rc == 0 ? hmem_ : 0;
            words->word[1] = rc == 0 ? index : 0;
            what += rc >= 0 ? format(" %d 0x%08x %u", ::getpid(), words->word[0], words->word[1]) : "";
            rc = rc > 0 ? 0 : rc;
        }
        journal_ioctl(journal_, path(), what, rc);
        return rc;
    }

    int finish()
    {
        int rc = ensure_driver();
        if (rc == 0) {
            cba_finish(queue_);
        }
        journal_ioctl(journal_, path(), "CBA_FINISH", rc);
        return rc;
    }

    int done(const CbaRequest *words)
    {
        int rc = !words ? -EFAULT : ensure_driver();
        std::string what = "CB_DONE";
        if (rc == 0) {
            rc = cba_done(queue_, words->word[0], words->word[1]);
            what += format(" 0x%08x %u", words->word[0], words->word[1]);
        }
        journal_ioctl(journal_, path(), what, rc);
        return rc;
    }

    std::string dir_;
    Journal *journal_;
    std::mutex setup_lock_;
    BlockFunctions blocks_;
    CbaQueue *queue_ = nullptr;
    uint32_t hmem_ = 0;
    CbItem *items_ = nullptr;
    pid_t owner_ = 0;
};

bool is_cbagent_path(const std::string &path) { return path == kCbaDevicePath; }

int open_cbagent(const DeviceContext &context, const std::string &path, int flags, std::shared_ptr<EmulatedFile> *file,
                 std::string *)
{
    *file = std::make_shared<CbagentFile>(path, flags, context);
    return 0;
}

} // namespace

const DeviceType kCbagentDevice = {is_cbagent_path, open_cbagent};

} // namespace vboard
