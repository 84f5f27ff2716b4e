// What the tests against the engine simulator share: bytes, addresses and
// texts as its control lines write them, a fixture that starts the engine
// and closes the playbacks a test opened, and the check of one tabled
// member as the engine sees it.
#ifndef PBCTRL_ENGINE_FIXTURE_H
#define PBCTRL_ENGINE_FIXTURE_H

#include "qivpbctrl.h"

#include "client_info.h"
#include "engine_harness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <sstream>
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

template <typename T> std::string hex_of(const T &t) { return hex_of(&t, sizeof t); }

inline std::string hex_addr(const void *p)
{
    char b[32];
    std::snprintf(b, sizeof b, "0x%llx", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(p)));
    return b;
}

inline std::string quoted(const std::string &text) { return "[\"" + text + "\"]"; }

// One remote member: how to call it, what the engine must see of arguments
// 1..n ("" = not checked, "~A|B" = contains A, then B) and the places and
// records it writes, in argument order.
struct MemberCase {
    const char *op;
    const char *codes;
    std::function<int32_t(IQIV_PB_HANDLE_T)> call;
    std::vector<std::string> args;
    std::vector<const void *> outs = {};
    std::string first = ""; // argument 0 when it is not the handle
};

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

    std::string seen(const std::string &op, size_t i) { return engine_.ok("last " + op + " " + std::to_string(i)); }
    std::string calls(const std::string &op) { return engine_.ok("calls " + op); }

    // Calls the member once on playback h and checks what the engine saw;
    // every place and record the engine writes gets 0x2A in its first byte.
    void expect_reaches_engine(const MemberCase &c, IQIV_PB_HANDLE_T h)
    {
        constexpr uint8_t kWritten = 0x2A;
        SCOPED_TRACE(c.op);
        std::istringstream codes(c.codes);
        std::string code;
        for (size_t i = 0; codes >> code; ++i) {
            if (code == "0xB1")
                engine_.ok("outhex " + std::string(c.op) + " " + std::to_string(i) + " 2a");
            else if (code == "0x98" || code == "0x99")
                engine_.ok("out " + std::string(c.op) + " " + std::to_string(i) + " 42");
        }
        const std::string before = calls(c.op);
        EXPECT_EQ(c.call(h), 0);
        EXPECT_EQ(std::stoi(calls(c.op)), std::stoi(before) + 1);
        EXPECT_EQ(engine_.ok(std::string("codes ") + c.op), c.codes);
        EXPECT_EQ(seen(c.op, 0), c.first.empty() ? std::to_string(h) : c.first);
        for (size_t i = 0; i < c.args.size(); ++i)
            expect_argument(seen(c.op, i + 1), c.args[i], i + 1);
        for (const void *out : c.outs)
            EXPECT_EQ(*static_cast<const uint8_t *>(out), kWritten);
    }

    pbharness::Engine engine_;
    std::vector<IQIV_PB_HANDLE_T> open_;

private:
    static void expect_argument(const std::string &got, const std::string &want, size_t i)
    {
        if (want.empty())
            return;
        if (want[0] != '~') {
            EXPECT_EQ(got, want) << "argument " << i;
            return;
        }
        // Pieces in this order; what lies between them depends on the word size.
        std::istringstream pieces(want.substr(1));
        size_t at = 0;
        for (std::string piece; std::getline(pieces, piece, '|');) {
            at = got.find(piece, at);
            ASSERT_NE(at, std::string::npos) << "argument " << i << ": " << piece << " in " << got;
        }
    }
};

} // namespace pbtest

#endif
