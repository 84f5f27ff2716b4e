// What the tests against the engine simulator share: bytes and addresses as
// its control lines write them, and a fixture that starts the engine and
// closes the playbacks a test opened.
#ifndef PBCTRL_ENGINE_FIXTURE_H
#define PBCTRL_ENGINE_FIXTURE_H

#include "qivpbctrl.h"

#include "client_info.h"
#include "engine_harness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace pbtest {

inline std::string hex_of(const void *p, size_t n)
{
    std::string out;
    char b[3];
    for (size_t i = 0; i < n; ++i) {
        std::snprintf(b, sizeof b, "%02x", static_cast<const uint8_t *>(p)[i]);
        out += b;
    }
    return out;
}

template <typename T> std::string hex_of(const T &t)
{
    return hex_of(&t, sizeof t);
}

inline std::string hex_addr(const void *p)
{
    char b[32];
    std::snprintf(b, sizeof b, "0x%llx", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(p)));
    return b;
}

class EngineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(engine_.start());
        IQivPb_Ctrl_Init();
    }
    void TearDown() override
    {
        for (IQIV_PB_HANDLE_T h : open_)
            IQivPb_Ctrl_Close(h);
        IQivPb_Ctrl_Terminate();
    }

    IQIV_PB_HANDLE_T open(uint32_t model = IQIV_PB_BUF_MOD_URI, uint32_t open_mod = 0)
    {
        IQIV_PB_HANDLE_T h = 0;
        EXPECT_EQ(IQivPb_Ctrl_Open(&h, model, open_mod, "file:///a.ts"), 0);
        open_.push_back(h);
        return h;
    }
    void close(IQIV_PB_HANDLE_T h)
    {
        EXPECT_EQ(IQivPb_Ctrl_Close(h), 0);
        open_.erase(std::find(open_.begin(), open_.end(), h));
    }

    pbharness::Engine engine_;
    std::vector<IQIV_PB_HANDLE_T> open_;
};

} // namespace pbtest

#endif
