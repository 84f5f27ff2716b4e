// libqivpbmisc against the real engine simulator, a separate process.
#include "qivpbmisc.h"

#include "engine_harness.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <regex>
#include <string>
#include <thread>

namespace {

using pbharness::Engine;

size_t count(const std::string &text, const std::string &pattern)
{
    const std::regex re(pattern);
    return static_cast<size_t>(
        std::distance(std::sregex_iterator(text.begin(), text.end(), re), std::sregex_iterator()));
}

void capture()
{
    fflush(stdout);
    testing::internal::CaptureStdout();
}

std::string captured()
{
    fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

class Pbmisc : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(engine_.start()); }
    void TearDown() override { IQivPb_Misc_Terminate(); }

    bool engine_conns_become(const std::string &n)
    {
        for (int i = 0; i < 1000; ++i) {
            if (engine_.ok("conns") == n)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return false;
    }

    Engine engine_;
};

// Every remote member: what the service sees (name, count and codes,
// values) and what comes back into the caller's places.
TEST_F(Pbmisc, EveryRemoteMemberSendsItsCodesAndGetsItsPlacesBack)
{
    ASSERT_EQ(engine_.ok("misc lang 2 101 110 103"), "");
    ASSERT_EQ(engine_.ok("misc text 513 Living room"), "");
    IQivPb_Misc_Init();

    uint8_t volume = 0;
    IQIV_PB_MISC_USER_PREF_T pref;
    struct Case {
        const char *public_name;
        const char *op;
        std::function<int32_t()> invoke;
        const char *codes;               // count, then each argument's code
        std::vector<std::string> values; // as the engine saw them; "" skips one
        std::function<void()> check_out;
    };
    const Case cases[] = {
        {"QivPb_Misc_Client_Init", "x_QivPb_Misc_Init", QivPb_Misc_Client_Init, "0x42", {"0"}, [] {}},
        {"IQivPb_Misc_SetAudioVolume",
         "x_QivPb_Misc_SetAudioVolume",
         [] { return IQivPb_Misc_SetAudioVolume(3, 77); },
         "0x48 0x46",
         {"3", "77"},
         [&] { EXPECT_EQ(engine_.ok("misc volume 3"), "77"); }},
        {"IQivPb_Misc_GetAudioVolume",
         "x_QivPb_Misc_GetAudioVolume",
         [&] { return IQivPb_Misc_GetAudioVolume(3, &volume); },
         "0x48 0x96",
         {"3", "0"},
         [&] { EXPECT_EQ(volume, 77); }},
        {"IQivPb_Misc_GetUserPref",
         "x_QivPb_Misc_GetUserPref",
         [&] { return IQivPb_Misc_GetUserPref(1, &pref, sizeof pref); },
         "0x48 0x98 0x96 0x96 0x96",
         {"1", "0", "0", "0", "0"},
         [&] {
             EXPECT_EQ(pref.tAudioLang.u4LangType, 2u);
             EXPECT_EQ(pref.tAudioLang.u1LangCode0, 101);
             EXPECT_EQ(pref.tAudioLang.u1LangCode1, 110);
             EXPECT_EQ(pref.tAudioLang.u1LangCode2, 103);
         }},
        {"IQivPb_Misc_GetUserPref",
         "x_QivPb_Misc_GetUserPref",
         [&] { return IQivPb_Misc_GetUserPref(101, &pref, sizeof pref); },
         "0x48 0x9B 0x48 0x97 0x48",
         {"101", "170", "", "43690", "0"},
         [&] {
             EXPECT_EQ(pref.tText.u1Value, 1);
             EXPECT_STREQ(pref.tText.acText, "Living room");
             EXPECT_EQ(pref.tText.u2Value, 513);
             // The text block was the client's and is gone again.
             const std::string handle = engine_.ok("last x_QivPb_Misc_GetUserPref 2");
             EXPECT_NE(handle, "0");
             EXPECT_NE(access(("/dev/shm/korm." + handle).c_str(), F_OK), 0) << handle;
         }},
        {"QivPb_Misc_Client_Terminate", "x_QivPb_Misc_Terminate", QivPb_Misc_Client_Terminate, "0x42", {"0"}, [] {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.op) + " " + c.codes);
        std::memset(&pref, 0xAA, sizeof pref);
        const std::string before = engine_.ok(std::string("calls ") + c.op);
        capture();
        EXPECT_EQ(c.invoke(), 0);
        const std::string out = captured();
        EXPECT_EQ(engine_.ok(std::string("calls ") + c.op), std::to_string(std::stoi(before) + 1));
        EXPECT_EQ(engine_.ok(std::string("codes ") + c.op), c.codes);
        for (size_t i = 0; i < c.values.size(); ++i) {
            if (c.values[i].empty())
                continue;
            EXPECT_EQ(engine_.ok(std::string("last ") + c.op + " " + std::to_string(i)), c.values[i]) << i;
        }
        c.check_out();
        EXPECT_EQ(count(out, std::string("<LOG [^,]+, ") + c.public_name + ", #\\d+>RPC Succeed:" + c.public_name +
                                 " #\\d+, ret 0\n"),
                  1u)
            << out;
    }
}

TEST_F(Pbmisc, LanguageTypeDecidesWhichCodesAreCopied)
{
    IQivPb_Misc_Init();
    struct {
        const char *engine;
        uint32_t type;
        uint8_t code0, code1, code2; // 0xAA: left as the caller had it
    } const cases[] = {
        {"1 101 110 103", 1, 101, 110, 0xAA},
        {"2 101 110 103", 2, 101, 110, 103},
        {"3 101 110 103", 0, 0xAA, 0xAA, 0xAA},
        {"0 101 110 103", 0, 0xAA, 0xAA, 0xAA},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.engine);
        ASSERT_EQ(engine_.ok(std::string("misc lang ") + c.engine), "");
        IQIV_PB_MISC_USER_PREF_T pref;
        std::memset(&pref, 0xAA, sizeof pref);
        capture();
        EXPECT_EQ(IQivPb_Misc_GetUserPref(1, &pref, sizeof pref), 0);
        const std::string out = captured();
        EXPECT_EQ(pref.tAudioLang.u4LangType, c.type);
        EXPECT_EQ(pref.tAudioLang.u1LangCode0, c.code0);
        EXPECT_EQ(pref.tAudioLang.u1LangCode1, c.code1);
        EXPECT_EQ(pref.tAudioLang.u1LangCode2, c.code2);
        EXPECT_EQ(count(out,
                        "u4LangType=\\[\\d\\]\nu1LangCode0=\\[101\\]\nu1LangCode1=\\[110\\]\n"
                        "u1LangCode2=\\[103\\]\n"),
                  1u)
            << out;
    }
    // A call the service failed leaves the type 0, whatever it wrote.
    ASSERT_EQ(engine_.ok("result x_QivPb_Misc_GetUserPref -5"), "");
    IQIV_PB_MISC_USER_PREF_T pref;
    std::memset(&pref, 0xAA, sizeof pref);
    EXPECT_EQ(IQivPb_Misc_GetUserPref(1, &pref, sizeof pref), -5);
    EXPECT_EQ(pref.tAudioLang.u4LangType, 0u);
}

TEST_F(Pbmisc, OtherIndicesAndNullPointersMakeNoCall)
{
    IQivPb_Misc_Init();
    IQIV_PB_MISC_USER_PREF_T pref;
    std::memset(&pref, 0xAA, sizeof pref);
    EXPECT_EQ(IQivPb_Misc_GetUserPref(7, &pref, sizeof pref), 0);
    EXPECT_EQ(pref.tAudioLang.u4LangType, 0xAAAAAAAAu) << "index 7 writes nothing";
    EXPECT_EQ(IQivPb_Misc_GetUserPref(7, nullptr, 0), 0);
    EXPECT_EQ(IQivPb_Misc_GetUserPref(1, nullptr, 0), -3);
    EXPECT_EQ(IQivPb_Misc_GetUserPref(101, nullptr, 0), -3);
    EXPECT_EQ(IQivPb_Misc_GetAudioVolume(0, nullptr), -3);
    EXPECT_EQ(engine_.ok("calls x_QivPb_Misc_GetUserPref"), "0");
    EXPECT_EQ(engine_.ok("calls x_QivPb_Misc_GetAudioVolume"), "0");
}

TEST_F(Pbmisc, TwoInitsCallTheServiceTwiceOverOneConnection)
{
    capture();
    IQivPb_Misc_Init();
    IQivPb_Misc_Init();
    const std::string out = captured();
    EXPECT_EQ(count(out, "c_rpc_misc_client_init is called\n"), 1u) << out;
    EXPECT_EQ(count(out, "c_rpc_reg_qivpbmisc_cb_hndlrs is called\nRPC_REG_CB_HNDLR succeed\n"), 1u);
    EXPECT_EQ(count(out, "c_rpc_start_misc_client is called\n"), 1u) << out;
    EXPECT_EQ(count(out, "<MISC CLIENT>t_iqivpbsnd_client_rpc_id is: -?\\d+\n"), 2u) << out;
    EXPECT_EQ(engine_.ok("calls x_QivPb_Misc_Init"), "2");
    EXPECT_TRUE(engine_conns_become("1"));

    // The uninit closes that connection; the next call opens it again.
    const std::regex id_line("t_iqivpbsnd_client_rpc_id is: (\\d+)\n");
    std::string id;
    for (auto m = std::sregex_iterator(out.begin(), out.end(), id_line); m != std::sregex_iterator(); ++m)
        id = (*m)[1];
    ASSERT_FALSE(id.empty()) << out;
    EXPECT_EQ(c_rpc_uninit_qivpbmisc_client(std::stoi(id)), 0);
    EXPECT_TRUE(engine_conns_become("0"));
    EXPECT_EQ(IQivPb_Misc_SetAudioVolume(0, 1), 0);
    EXPECT_TRUE(engine_conns_become("1"));
}

TEST_F(Pbmisc, EngineDownFailsWithMinus6AndComesBackByAutoConnect)
{
    IQivPb_Misc_Init();
    engine_.stop();
    capture();
    EXPECT_EQ(IQivPb_Misc_SetAudioVolume(1, 40), -1);
    std::string out = captured();
    EXPECT_EQ(count(out,
                    "Open client:IQivPb_Misc_SetAudioVolume #\\d+ try to auto connect \n"
                    "c_rpc_start_misc_client is called\n"
                    "RPC Failure:IQivPb_Misc_SetAudioVolume #\\d+, ret -6\n"
                    "RPC Failure ret type:IQivPb_Misc_SetAudioVolume #\\d+, T:0\n"),
              1u)
        << out;

    ASSERT_TRUE(engine_.start());
    capture();
    EXPECT_EQ(IQivPb_Misc_SetAudioVolume(1, 40), 0);
    out = captured();
    EXPECT_EQ(count(out, "try to auto connect"), 1u) << out;
    EXPECT_EQ(engine_.ok("misc volume 1"), "40");
    EXPECT_EQ(engine_.ok("calls x_QivPb_Misc_SetAudioVolume"), "1") << "sent once";
}

TEST_F(Pbmisc, FailedCallsAndWrongResultTypesGiveMinus1)
{
    IQivPb_Misc_Init();
    ASSERT_EQ(engine_.ok("type x_QivPb_Misc_GetAudioVolume 5"), "");
    uint8_t volume = 0;
    capture();
    EXPECT_EQ(IQivPb_Misc_GetAudioVolume(2, &volume), -1);
    std::string out = captured();
    EXPECT_EQ(count(out, "RPC Failure ret type:IQivPb_Misc_GetAudioVolume #\\d+, T:5\n"), 1u) << out;

    // The service's own failure, even -6, is never taken for "not connected".
    ASSERT_EQ(engine_.ok("status x_QivPb_Misc_SetAudioVolume -6"), "");
    capture();
    EXPECT_EQ(IQivPb_Misc_SetAudioVolume(2, 9), -1);
    out = captured();
    EXPECT_EQ(count(out, "try to auto connect"), 0u) << out;
    EXPECT_EQ(engine_.ok("calls x_QivPb_Misc_SetAudioVolume"), "1");

    // A failed text call leaves the caller's text alone and frees its block.
    ASSERT_EQ(engine_.ok("misc text 1 abc"), "");
    ASSERT_EQ(engine_.ok("status x_QivPb_Misc_GetUserPref -1"), "");
    IQIV_PB_MISC_USER_PREF_T pref;
    std::strcpy(pref.tText.acText, "old");
    EXPECT_EQ(IQivPb_Misc_GetUserPref(101, &pref, sizeof pref), -1);
    EXPECT_STREQ(pref.tText.acText, "old");
    const std::string handle = engine_.ok("last x_QivPb_Misc_GetUserPref 2");
    EXPECT_NE(access(("/dev/shm/korm." + handle).c_str(), F_OK), 0) << handle;
}

} // namespace
