// IQivPb_Ctrl_GetTSInfo allocates nothing: every allocation of the process is
// counted while it runs (through the sanitizer's hooks in sanitized builds,
// by standing in for malloc otherwise).
#include "qivpbctrl_ts.h"

#include "ts_stream_builder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>

namespace {

std::atomic<bool> g_counting{false};
std::atomic<int> g_allocations{0};

void note_allocation()
{
    if (g_counting.load())
        ++g_allocations;
}

} // namespace

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
// From the sanitizer runtime (GCC ships no header for it).
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*malloc_hook)(const volatile void *, size_t),
                                                         void (*free_hook)(const volatile void *));

namespace {
void on_malloc(const volatile void *, size_t) { note_allocation(); }
void on_free(const volatile void *) {}
[[maybe_unused]] const int g_hooks_installed = __sanitizer_install_malloc_and_free_hooks(on_malloc, on_free);
} // namespace
#else
extern "C" void *__libc_malloc(size_t size);
extern "C" void *__libc_calloc(size_t count, size_t size);
extern "C" void *__libc_realloc(void *p, size_t size);

extern "C" void *malloc(size_t size)
{
    note_allocation();
    return __libc_malloc(size);
}

extern "C" void *calloc(size_t count, size_t size)
{
    note_allocation();
    return __libc_calloc(count, size);
}

extern "C" void *realloc(void *p, size_t size)
{
    note_allocation();
    return __libc_realloc(p, size);
}
#endif

namespace {

using namespace tstest;

TEST(TsInfoAllocation, AnalysisAllocatesNothing)
{
    Stream s;
    s.packet(0, true, pat({0x1000}))
        .packet(0x1000, true, pmt({{0x02, 0x100, {0x0A, 0x00}}, {0x03, 0x101, {}}}))
        .packet(0x100, true, pes(1000, {}, 0xE0))
        .packet(0x101, true, pes(2000, {0xFF, 0xFB, 0x90, 0x64}))
        .filler(4);
    IQIV_PB_TS_INFO_T info;
    ASSERT_EQ(IQivPb_Ctrl_GetTSInfo(s.bytes.data(), static_cast<uint32_t>(s.bytes.size()), &info), 0);
    g_allocations = 0;
    // The counter must see an allocation at all, or zero below would prove nothing.
    g_counting = true;
    void *volatile probe = malloc(16);
    free(probe);
    ASSERT_EQ(g_allocations.load(), 1);
    g_allocations = 0;
    const int32_t rc = IQivPb_Ctrl_GetTSInfo(s.bytes.data(), static_cast<uint32_t>(s.bytes.size()), &info);
    g_counting = false;
    ASSERT_EQ(rc, 0);
    EXPECT_EQ(info.at_program[0].at_stream[1].ui4_data, 3u);
    EXPECT_EQ(g_allocations.load(), 0);
}

} // namespace
