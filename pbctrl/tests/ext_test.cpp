// Disc navigation and the extension API against the real engine simulator:
// what the engine sees of every plain member, the filter table, the
// snapshot records of both forms and the encryption memory it reads back.
#include "qivpbctrl.h"

#include "checksum.h"
#include "client_info.h"
#include "engine_fixture.h"
#include "engine_harness.h"
#include "korm.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using pbtest::hex_addr;
using pbtest::hex_of;
using pbtest::quoted;

// Kernel blocks this process has mapped.
size_t shm_mappings()
{
    std::ifstream maps("/proc/self/maps");
    size_t n = 0;
    for (std::string line; std::getline(maps, line);)
        n += line.find("/dev/shm/") != std::string::npos;
    return n;
}

// What the application's filter function saw.
struct FilterSeen {
    uint32_t h_pb = 0, value = 0, size = 0, first_word = 0, calls = 0;
    void *buf = nullptr;
} g_filter;

int32_t on_filter(uint32_t h_pb, uint32_t value, IQIV_PB_CTRL_FILTER_BUF_T *buf, uint32_t)
{
    g_filter.h_pb = h_pb;
    g_filter.value = value;
    g_filter.size = buf->ui4_size;
    g_filter.buf = buf->pv_addr;
    std::memcpy(&g_filter.first_word, buf->pv_addr, sizeof g_filter.first_word);
    ++g_filter.calls;
    return 0;
}

int32_t app_enc(uint32_t, uint32_t, void *) { return 0; }

int32_t app_cli(int32_t) { return 0; }

class PbctrlExt : public pbtest::EngineTest {
protected:
    void SetUp() override
    {
        g_filter = FilterSeen{};
        EngineTest::SetUp();
    }
    static pbctrl::ClientInfo &info(IQIV_PB_HANDLE_T h) { return pbctrl::t_client_info[pbctrl::find_by_handle(h)]; }
    // Every failure path gives the slot's mutex back.
    static void expect_unlocked(IQIV_PB_HANDLE_T h)
    {
        pthread_mutex_t &mu = pbctrl::slot_mutex(info(h));
        ASSERT_EQ(pthread_mutex_trylock(&mu), 0);
        pthread_mutex_unlock(&mu);
    }
    static size_t filters_in_use(IQIV_PB_HANDLE_T h)
    {
        size_t n = 0;
        for (const pbctrl::FilterEntry &f : info(h).at_filter)
            n += f.b_used;
        return n;
    }
    bool await_callbacks(const std::string &count)
    {
        for (int i = 0; i < 500; ++i) {
            if (engine_.ok("cbdone") == count)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }
};

TEST_F(PbctrlExt, EveryPlainMemberReachesTheEngineAsTabled)
{
    const IQIV_PB_HANDLE_T h = open();
    IQIV_PB_DISC_LANG_CODE_T lang{{1, 2, 3, 4}};
    IQIV_PB_DISC_TIME_T total{}, current{};
    IQIV_PB_CTRL_ENC_PARAM_T enc{1, 640, 480, 25, 2000, 12};
    IQIV_PB_CTRL_TS_FILTER_MODIFY_T modify{0x45, {1}, {2}};
    IQIV_PB_CTRL_FEATURE_CMD_T cmd{3, {4, 5, 6}};
    IQIV_PB_CTRL_FEATURE_INFO_T feature_info{};
    IQIV_PB_CTRL_RECT_T rect{1, 2, 3, 4};
    IQIV_PB_CTRL_SNAPSHOT_PARAM_T snap_param{1, 320, 240, 90};
    IQIV_PB_CTRL_SNAPSHOT_DESC_T snap{}, snap_in{{1, 2, 3}, 0, 5, 6, 7, 8};
    IQIV_PB_CTRL_SNAPSHOT_DESC_EXT_T snap_ext{}, snap_ext_in{{1, 2, 3, 4, 5, 6}, 7, 8, 9, 10};
    char ca_file[] = "/etc/ca.pem", ca_path[] = "/etc/certs", cert[] = "client.pem", key[] = "client.key";
    IQIV_PB_CTRL_CA_CERT_INFO_T ca{reinterpret_cast<uint8_t *>(ca_file), reinterpret_cast<uint8_t *>(ca_path)};
    IQIV_PB_CTRL_CLIENT_CERT_INFO_T client{reinterpret_cast<uint8_t *>(cert), reinterpret_cast<uint8_t *>(key)};
    char lic[] = "http://lic", data[] = "custom", content[] = "content-1", key_id[] = "kid-9";
    IQIV_PB_CTRL_DRM_INFO_T drm{};
    drm.e_drm_type = IQIV_PB_CTRL_DRM_MLN;
    drm.u.t_mln_drm_inf = {lic, 10, data, 6, content, 9, key_id, 5};
    char url[] = "http://h/a.m3u8", key_url[] = "http://k", cookie[] = "c=1", agent[] = "agent", referer[] = "ref",
         proxy[] = "proxy:8080", header[] = "X-A: b";
    uint8_t hls_buf[4] = {9, 8, 7, 6};
    IQIV_PB_CTRL_FEATURE_PARAM_T hls{};
    hls.eFeatureType = IQIV_PB_CTRL_FEATURE_HLS;
    hls.uFeatureParam.tHlsParam = {url,     0, key_url, 0, cookie, 0, agent,   0,
                                   referer, 0, proxy,   0, header, 0, hls_buf, sizeof hls_buf};
    char host[] = "10.0.0.1", port[] = "5000";
    IQIV_PB_CTRL_FEATURE_PARAM_T dtcp{};
    dtcp.eFeatureType = IQIV_PB_CTRL_FEATURE_DTCP;
    dtcp.uFeatureParam.tDtcpParam = {host, port};
    uint32_t u32[16] = {};
    IQIV_PB_CTRL_ENC_BUF_FCT fn = app_enc;
    IQIV_PB_CTRL_CLI_FCT cli = app_cli;
    void *tag = &u32[15];

    const std::vector<pbtest::MemberCase> cases = {
        {"x_QivPb_Disc_Menu_Call", "0x48", [&](auto x) { return IQivPb_Disc_Menu_Call(x); }, {}},
        {"x_QivPb_Disc_Chapter_Search", "0x48 0x48", [&](auto x) { return IQivPb_Disc_Chapter_Search(x, 7); }, {"7"}},
        {"x_QivPb_Disc_Title_Search", "0x48 0x48", [&](auto x) { return IQivPb_Disc_Title_Search(x, 3); }, {"3"}},
        {"x_QivPb_Disc_Still_Off", "0x48", [&](auto x) { return IQivPb_Disc_Still_Off(x); }, {}},
        {"x_QivPb_Disc_Set_Audio",
         "0x48 0x48 0x48",
         [&](auto x) { return IQivPb_Disc_Set_Audio(x, 1, 2); },
         {"1", "2"}},
        {"x_QivPb_Disc_DigitalKey", "0x48 0x48", [&](auto x) { return IQivPb_Disc_DigitalKey(x, 9); }, {"9"}},
        {"x_QivPb_Disc_SelectKey", "0x48", [&](auto x) { return IQivPb_Disc_SelectKey(x); }, {}},
        {"x_QivPb_Disc_DirectionKey", "0x48 0x48", [&](auto x) { return IQivPb_Disc_DirectionKey(x, 2); }, {"2"}},
        {"x_QivPb_Disc_Set_RegionCode", "0x48 0x46", [&](auto x) { return IQivPb_Disc_Set_RegionCode(x, 4); }, {"4"}},
        {"x_QivPb_Disc_Set_Subtitle_Plane",
         "0x48 0x48",
         [&](auto x) { return IQivPb_Disc_Set_Subtitle_Plane(x, 5); },
         {"5"}},
        {"x_QivPb_Disc_Set_Topmenu_Plane",
         "0x48 0x48",
         [&](auto x) { return IQivPb_Disc_Set_Topmenu_Plane(x, 6); },
         {"6"}},
        {"x_QivPb_Disc_Set_PtLevel", "0x48 0x46", [&](auto x) { return IQivPb_Disc_Set_PtLevel(x, 8); }, {"8"}},
        {"x_QivPb_Disc_Set_PtlCountry",
         "0x48 0x71",
         [&](auto x) { return IQivPb_Disc_Set_PtlCountry(x, &lang); },
         {hex_of(lang)}},
        {"x_QivPb_Disc_Set_MenuLCD",
         "0x48 0x71",
         [&](auto x) { return IQivPb_Disc_Set_MenuLCD(x, &lang); },
         {hex_of(lang)}},
        {"x_QivPb_Disc_Set_SubtitleLCD",
         "0x48 0x71",
         [&](auto x) { return IQivPb_Disc_Set_SubtitleLCD(x, &lang); },
         {hex_of(lang)}},
        {"x_QivPb_Disc_Set_AudioLCD",
         "0x48 0x71",
         [&](auto x) { return IQivPb_Disc_Set_AudioLCD(x, &lang); },
         {hex_of(lang)}},
        {"x_QivPb_Disc_Get_Total_Time",
         "0x48 0x48 0xB1",
         [&](auto x) { return IQivPb_Disc_Get_Total_Time(x, 1, &total); },
         {"1", ""},
         {&total}},
        {"x_QivPb_Disc_Get_Current_Time",
         "0x48 0x48 0xB1",
         [&](auto x) { return IQivPb_Disc_Get_Current_Time(x, 2, &current); },
         {"2", ""},
         {&current}},
        {"x_QivPb_Disc_Get_Title_Info",
         "0x48 0x98 0x98",
         [&](auto x) { return IQivPb_Disc_Get_Title_Info(x, &u32[0], &u32[1]); },
         {"", ""},
         {&u32[0], &u32[1]}},
        {"x_QivPb_Disc_Get_Chapter_Info",
         "0x48 0x98 0x98",
         [&](auto x) { return IQivPb_Disc_Get_Chapter_Info(x, &u32[2], &u32[3]); },
         {"", ""},
         {&u32[2], &u32[3]}},
        {"x_QivPb_Disc_Resume", "0x48", [&](auto x) { return IQivPb_Disc_Resume(x); }, {}},
        {"x_QivPb_Disc_Play_Next_Chp", "0x48", [&](auto x) { return IQivPb_Disc_Play_Next_Chp(x); }, {}},
        {"x_QivPb_Disc_Play_Prev_Chp", "0x48", [&](auto x) { return IQivPb_Disc_Play_Prev_Chp(x); }, {}},
        {"x_QivPb_Disc_Get_Audio_Info",
         "0x48 0x48 0x98 0x98",
         [&](auto x) { return IQivPb_Disc_Get_Audio_Info(x, 1, &u32[4], &u32[5]); },
         {"1", "", ""},
         {&u32[4], &u32[5]}},
        {"x_QivPb_Disc_Get_DiscID",
         "0x48 0x98 0x98",
         [&](auto x) { return IQivPb_Disc_Get_DiscID(x, &u32[6], &u32[7]); },
         {"", ""},
         {&u32[6], &u32[7]}},
        {"x_QivPb_Disc_Get_Lastmem_Info",
         "0x48 0x98 0x98",
         [&](auto x) { return IQivPb_Disc_Get_Lastmem_Info(x, &u32[8], &u32[9]); },
         {"", ""},
         {&u32[8], &u32[9]}},
        {"x_QivPb_Disc_LastPlay", "0x48 0x88", [&](auto x) { return IQivPb_Disc_LastPlay(x, 12); }, {"12"}},
        {"x_QivPb_Ctrl_Ext_EncPb",
         "0x98 0x48 0x44 0x71 0x56",
         [&](auto x) { return IQivPb_Ctrl_Ext_EncPb(&u32[10], x, 2, &enc, 5); },
         {"", "2", hex_of(enc), "5"},
         {&u32[10]},
         "0"},
        {"x_QivPb_Ctrl_Ext_SetEncBufferParm",
         "0x48 0x61 0x50",
         [&](auto x) { return IQivPb_Ctrl_Ext_SetEncBufferParm(x, fn, tag); },
         {hex_addr(reinterpret_cast<void *>(fn)), hex_addr(tag)}},
        {"x_QivPb_Ctrl_Ext_EncEnable", "0x48 0x4B", [&](auto x) { return IQivPb_Ctrl_Ext_EncEnable(x, 1); }, {"1"}},
        {"x_QivPb_Ctrl_Ext_RequestKeyframe", "0x48", [&](auto x) { return IQivPb_Ctrl_Ext_RequestKeyframe(x); }, {}},
        {"x_QivPb_Ctrl_Ext_SetVidFrameRate",
         "0x48 0x48",
         [&](auto x) { return IQivPb_Ctrl_Ext_SetVidFrameRate(x, 30); },
         {"30"}},
        {"x_QivPb_Ctrl_Ext_SetVidResolution",
         "0x48 0x48 0x48",
         [&](auto x) { return IQivPb_Ctrl_Ext_SetVidResolution(x, 1280, 720); },
         {"1280", "720"}},
        {"x_QivPb_Ctrl_Ext_SetVidBitRate",
         "0x48 0x48",
         [&](auto x) { return IQivPb_Ctrl_Ext_SetVidBitRate(x, 4000); },
         {"4000"}},
        {"x_QivPb_Ctrl_TS_Filter_Start",
         "0x48 0x48",
         [&](auto x) { return IQivPb_Ctrl_TS_Filter_Start(x, 0x101); },
         {"257"}},
        {"x_QivPb_Ctrl_TS_Filter_Stop",
         "0x48 0x48",
         [&](auto x) { return IQivPb_Ctrl_TS_Filter_Stop(x, 0x102); },
         {"258"}},
        {"x_QivPb_Ctrl_TS_Filter_Modify",
         "0x48 0x48 0x71 0x4B",
         [&](auto x) { return IQivPb_Ctrl_TS_Filter_Modify(x, 0x103, &modify, 1); },
         {"259", hex_of(modify), "1"}},
        {"x_QivPb_Ctrl_SetHttpProxy",
         "0x48 0x60",
         [&](auto x) { return IQivPb_Ctrl_SetHttpProxy(x, "p:3128"); },
         {"p:3128"}},
        {"x_QivPb_Ctrl_SendFeatureCmd",
         "0x48 0x71",
         [&](auto x) { return IQivPb_Ctrl_SendFeatureCmd(x, &cmd); },
         {hex_of(cmd)}},
        {"x_QivPb_Ctrl_GetFeatureInfo",
         "0x48 0xB1",
         [&](auto x) { return IQivPb_Ctrl_GetFeatureInfo(x, &feature_info); },
         {""},
         {&feature_info}},
        {"x_QivPb_Ctrl_PIP_Switch",
         "0x48 0x48 0x48",
         [&](auto x) { return IQivPb_Ctrl_PIP_Switch(x, 77, 2); },
         {"77", "2"}},
        {"x_QivPb_Ctrl_PIP_GetHandleType",
         "0x48 0x98",
         [&](auto x) { return IQivPb_Ctrl_PIP_GetHandleType(x, &u32[11]); },
         {""},
         {&u32[11]}},
        {"x_QivPb_Ctrl_DASH_Set", "0x48 0x48", [&](auto x) { return IQivPb_Ctrl_DASH_Set(x, 6); }, {"6"}},
        {"x_QivPb_Ctrl_Set_DRM_Info",
         "0x48 0x71",
         [&](auto x) { return IQivPb_Ctrl_Set_DRM_Info(x, &drm); },
         {"~02000000|" + quoted(lic) + "0a000000|" + quoted(data) + "06000000|" + quoted(content) + "09000000|" +
          quoted(key_id) + "05000000"}},
        {"x_QivPb_Ctrl_HttpsAuthenticateServer",
         "0x48 0x71",
         [&](auto x) { return IQivPb_Ctrl_HttpsAuthenticateServer(x, &ca); },
         {quoted(ca_file) + quoted(ca_path)}},
        {"x_QivPb_Ctrl_HttpsAuthenticateClient",
         "0x48 0x71",
         [&](auto x) { return IQivPb_Ctrl_HttpsAuthenticateClient(x, &client); },
         {quoted(cert) + quoted(key)}},
        {"x_QivPb_Ctrl_Reg_CLI",
         "0x61 0x61 0x61",
         [&](auto) { return IQivPb_Ctrl_Reg_CLI(cli, cli, nullptr); },
         {hex_addr(reinterpret_cast<void *>(cli)), "0x0"},
         {},
         hex_addr(reinterpret_cast<void *>(cli))},
        {"x_IQivPb_Ctrl_CustomizeHttpReqHdr",
         "0x48 0x60",
         [&](auto x) { return IQivPb_Ctrl_CustomizeHttpReqHdr(x, "X-Token: 1"); },
         {"X-Token: 1"}},
        {"x_QivPb_Ctrl_SetFeatureParam",
         "0x48 0x71",
         [&](auto x) { return IQivPb_Ctrl_SetFeatureParam(x, &hls); },
         {"~01000000|" + quoted(url) + "|" + quoted(key_url) + "|" + quoted(cookie) + "|" + quoted(agent) + "|" +
          quoted(referer) + "|" + quoted(proxy) + "|" + quoted(header) + "|[09080706]04000000"}},
        {"x_IQivPb_Ctrl_Ext_Ipc_StartSnapshot",
         "0x48 0x46 0x71 0x71 0xB1",
         [&](auto x) { return IQivPb_Ctrl_Ext_Ipc_StartSnapshot(x, 1, &rect, &snap_param, &snap); },
         {"1", hex_of(rect), hex_of(snap_param), ""},
         {&snap}},
        {"x_IQivPb_Ctrl_Ext_Ipc_StopSnapshot",
         "0x48 0x71",
         [&](auto x) { return IQivPb_Ctrl_Ext_Ipc_StopSnapshot(x, &snap_in); },
         {hex_of(snap_in)}},
        {"x_IQivPb_Ctrl_Ext_Ipc_StartSnapshot_Ext",
         "0x48 0x46 0x71 0x71 0xB1",
         [&](auto x) { return IQivPb_Ctrl_Ext_Ipc_StartSnapshot_Ext(x, 2, &rect, &snap_param, &snap_ext); },
         {"2", hex_of(rect), hex_of(snap_param), ""},
         {&snap_ext}},
        {"x_IQivPb_Ctrl_Ext_Ipc_StopSnapshot_Ext",
         "0x48 0x71",
         [&](auto x) { return IQivPb_Ctrl_Ext_Ipc_StopSnapshot_Ext(x, &snap_ext_in); },
         {hex_of(snap_ext_in)}},
    };
    for (const pbtest::MemberCase &c : cases)
        expect_reaches_engine(c, h);
    // The DTCP form of the feature parameter carries its two texts.
    EXPECT_EQ(IQivPb_Ctrl_SetFeatureParam(h, &dtcp), 0);
    EXPECT_NE(seen("x_QivPb_Ctrl_SetFeatureParam", 1).find(quoted(host) + quoted(port)), std::string::npos);
    // The engine's own result passes through.
    engine_.ok("result x_QivPb_Disc_Resume -7");
    EXPECT_EQ(IQivPb_Disc_Resume(h), -7);
}

TEST_F(PbctrlExt, MembersPrintTheirOwnLines)
{
    const IQIV_PB_HANDLE_T h = open();
    const std::string hs = std::to_string(h);
    char ca_file[] = "/ca.pem", ca_path[] = "/certs", cert[] = "c.pem", key[] = "c.key";
    IQIV_PB_CTRL_CA_CERT_INFO_T ca{reinterpret_cast<uint8_t *>(ca_file), reinterpret_cast<uint8_t *>(ca_path)};
    IQIV_PB_CTRL_CLIENT_CERT_INFO_T client{reinterpret_cast<uint8_t *>(cert), reinterpret_cast<uint8_t *>(key)};
    IQIV_PB_CTRL_TS_FILTER_PARAM_T param{};
    IQIV_PB_CTRL_RECT_T rect{};
    IQIV_PB_CTRL_SNAPSHOT_PARAM_T snap_param{};
    IQIV_PB_CTRL_SNAPSHOT_DESC_EXT_T desc{};
    uint32_t type = 0, h_filter = 0;
    engine_.ok("out x_QivPb_Ctrl_PIP_GetHandleType 1 3");
    testing::internal::CaptureStdout();
    IQivPb_Ctrl_Ext_RequestKeyframe(h);
    IQivPb_Ctrl_Ext_SetVidBitRate(h, 1);
    IQivPb_Ctrl_DASH_Set(h, 1);
    IQivPb_Ctrl_TS_Filter_Alloc(h, &param, on_filter, nullptr, &h_filter);
    IQivPb_Ctrl_HttpsAuthenticateServer(h, &ca);
    IQivPb_Ctrl_HttpsAuthenticateClient(h, &client);
    IQivPb_Ctrl_PIP_Switch(h, 8, 2);
    IQivPb_Ctrl_PIP_GetHandleType(h, &type);
    IQivPb_Ctrl_Ext_StartSnapshot_Ext(h, 0, &rect, &snap_param, &desc);
    const std::string out = testing::internal::GetCapturedStdout();
    for (
        const std::string &line :
        {std::string(
             "<LOG [^,]+, IQivPb_Ctrl_Ext_RequestKeyframe, #[0-9]+><Client>IQivPb_Ctrl_Ext_RequestKeyframe is called\n"),
         std::string(
             "<LOG [^,]+, IQivPb_Ctrl_Ext_SetVidBitRate, #[0-9]+><Client>IQivPb_Ctrl_Ext_SetVidBitRate is called\n"),
         "<LOG [^,]+, IQivPb_Ctrl_DASH_Set, #[0-9]+>IQivPb_Ctrl_DASH_Set is called, hHandle is: " + hs + "\n",
         std::string(
             "<LOG [^,]+, IQivPb_Ctrl_TS_Filter_Alloc, #[0-9]+><Client>IQivPb_Ctrl_TS_Filter_Alloc is called\n"),
         std::string("<>Client> ptCACertInfo->pu1CAFile\\[/ca.pem\\]\n<>Client> ptCACertInfo->pu1CAPath\\[/certs\\]\n"),
         std::string(
             "<LOG [^,]+, IQivPb_Ctrl_HttpsAuthenticateClient, #[0-9]+><>Client> ptClientCertInfo->pu1ClientCert\\[c.pem\\]\n"),
         std::string(
             "<LOG [^,]+, IQivPb_Ctrl_HttpsAuthenticateClient, #[0-9]+><>Client> ptClientCertInfo->pu1PrvKey\\[c.key\\]\n"),
         "<Client> IQivPb_Ctrl_PIP_Switch, MainHandle: " + hs + ", SubHandle: 8, PipCmd: 2\n",
         "<Client> IQivPb_Ctrl_PIP_GetHandleType OK,  hHandle: " + hs + ", peHandleType: 3\n",
         std::string(
             "<Client> New malloc memory for storing mem handler in src_ind/so/iqivpbctrl_client/QivPbCtrl_wrapper @Line [0-9]+\n"),
         std::string("<Client> Start Share Memory Handle: Y 0x[0-9a-f]+, C 0x[0-9a-f]+ @Line: [0-9]+\n")})
        EXPECT_TRUE(std::regex_search(out, std::regex(line))) << line << "\n" << out;
}

TEST_F(PbctrlExt, LocalChecksRefuseBeforeAnyCall)
{
    const IQIV_PB_HANDLE_T h = open();
    const IQIV_PB_HANDLE_T pull = open(IQIV_PB_BUF_MOD_PULL);
    IQIV_PB_CTRL_FEATURE_CMD_T cmd{1, {}};
    IQIV_PB_CTRL_FEATURE_PARAM_T other{};
    other.eFeatureType = 3;
    testing::internal::CaptureStdout();
    EXPECT_EQ(IQivPb_Ctrl_SendFeatureCmd(pull, &cmd), -1); // buffering model 1 only
    EXPECT_EQ(IQivPb_Ctrl_SendFeatureCmd(999, &cmd), -4);
    EXPECT_EQ(IQivPb_Ctrl_SetFeatureParam(999, &other), -4);
    EXPECT_EQ(IQivPb_Ctrl_SetFeatureParam(h, &other), -1);
    EXPECT_EQ(IQivPb_Ctrl_PIP_GetHandleType(h, nullptr), -3);
    EXPECT_EQ(IQivPb_Ctrl_Set_DRM_Info(h, nullptr), -3);
    EXPECT_EQ(IQivPb_Ctrl_CustomizeHttpReqHdr(h, nullptr), -3);
    EXPECT_EQ(IQivPb_Ctrl_CustomizeHttpReqHdr(999, "X: y"), -2);
    EXPECT_EQ(IQivPb_Ctrl_HttpsAuthenticateServer(h, nullptr), -3);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("RPC Failure arg check:IQivPb_Ctrl_SendFeatureCmd #"), std::string::npos) << out;
    // An unknown feature type is refused before any call: the arg-check line alone.
    EXPECT_NE(out.find("RPC Failure arg check:IQivPb_Ctrl_SetFeatureParam #"), std::string::npos) << out;
    EXPECT_EQ(out.find("RPC Failure ret type:IQivPb_Ctrl_SetFeatureParam"), std::string::npos) << out;
    EXPECT_NE(out.find("<Client> IQivPb_Ctrl_PIP_GetHandleType, peHandleType is NULL \n"), std::string::npos);
    for (const char *op :
         {"x_QivPb_Ctrl_SendFeatureCmd", "x_QivPb_Ctrl_SetFeatureParam", "x_QivPb_Ctrl_PIP_GetHandleType",
          "x_QivPb_Ctrl_Set_DRM_Info", "x_IQivPb_Ctrl_CustomizeHttpReqHdr", "x_QivPb_Ctrl_HttpsAuthenticateServer"})
        EXPECT_EQ(calls(op), "0") << op;
}

TEST_F(PbctrlExt, FilterTableHoldsTwoHundredFiftySixFiltersPerPlayback)
{
    const IQIV_PB_HANDLE_T h = open(IQIV_PB_BUF_MOD_PULL);
    const IQIV_PB_HANDLE_T other = open();
    IQIV_PB_CTRL_TS_FILTER_PARAM_T param{0x30, 1, 4096, {}, {}};
    uint32_t h_filter = 0;
    EXPECT_EQ(IQivPb_Ctrl_TS_Filter_Alloc(other, &param, on_filter, nullptr, &h_filter), 0);
    for (uint32_t i = 0; i < pbctrl::kFilters; ++i)
        ASSERT_EQ(IQivPb_Ctrl_TS_Filter_Alloc(h, &param, on_filter, nullptr, &h_filter), 0) << i;
    EXPECT_EQ(h_filter, 0x100u + pbctrl::kFilters);
    EXPECT_EQ(info(h).at_filter[pbctrl::kFilters - 1].h_filter, h_filter);
    testing::internal::CaptureStdout();
    EXPECT_EQ(IQivPb_Ctrl_TS_Filter_Alloc(h, &param, on_filter, nullptr, &h_filter), -2);
    EXPECT_NE(testing::internal::GetCapturedStdout().find("<CLIENT>there isn't space for IQivPb_Ctrl_TS_Filter_Alloc"),
              std::string::npos);
    expect_unlocked(h);
    EXPECT_EQ(calls("x_QivPb_Ctrl_TS_Filter_Alloc"), "257");
    EXPECT_EQ(engine_.ok("codes x_QivPb_Ctrl_TS_Filter_Alloc"), "0x48 0x71 0x61 0x50 0x98");

    // A freed entry is taken again; a null function keeps the entry it marked.
    EXPECT_EQ(IQivPb_Ctrl_TS_Filter_Free(h, 0x105), 0);
    EXPECT_EQ(IQivPb_Ctrl_TS_Filter_Free(h, 0x105), -2);
    EXPECT_EQ(IQivPb_Ctrl_TS_Filter_Free(other, 0x105), -2);
    EXPECT_EQ(calls("x_QivPb_Ctrl_TS_Filter_Free"), "1");
    EXPECT_EQ(IQivPb_Ctrl_TS_Filter_Alloc(h, &param, nullptr, nullptr, &h_filter), -3);
    expect_unlocked(h);
    EXPECT_EQ(filters_in_use(h), size_t{pbctrl::kFilters});
    EXPECT_EQ(IQivPb_Ctrl_TS_Filter_Alloc(h, &param, on_filter, nullptr, &h_filter), -2);

    // An allocation the engine refuses holds no entry; a free it refuses still clears it.
    EXPECT_EQ(IQivPb_Ctrl_TS_Filter_Free(h, 0x106), 0);
    engine_.ok("result x_QivPb_Ctrl_TS_Filter_Alloc -5");
    EXPECT_EQ(IQivPb_Ctrl_TS_Filter_Alloc(h, &param, on_filter, nullptr, &h_filter), -5);
    expect_unlocked(h);
    EXPECT_EQ(filters_in_use(h), size_t{pbctrl::kFilters - 1});
    engine_.ok("result x_QivPb_Ctrl_TS_Filter_Free -1");
    EXPECT_EQ(IQivPb_Ctrl_TS_Filter_Free(h, 0x107), -1);
    expect_unlocked(h);
    EXPECT_EQ(filters_in_use(h), size_t{pbctrl::kFilters - 2});

    // Closing one playback leaves the other's filters alone.
    close(h);
    engine_.ok("reset");
    EXPECT_EQ(filters_in_use(other), 1u);
    EXPECT_EQ(IQivPb_Ctrl_TS_Filter_Free(other, 0x100), -1); // the engine forgot it in the reset
    EXPECT_EQ(filters_in_use(other), 0u);
}

TEST_F(PbctrlExt, FilterBufferNoticeReachesTheApplicationAndIsGivenBack)
{
    const IQIV_PB_HANDLE_T h = open(IQIV_PB_BUF_MOD_PULL);
    const size_t mappings = shm_mappings();
    engine_.ok("filternotice 8192");
    IQIV_PB_CTRL_TS_FILTER_PARAM_T param{0x31, 1, 8192, {}, {}};
    uint32_t h_filter = 0;
    ASSERT_EQ(IQivPb_Ctrl_TS_Filter_Alloc(h, &param, on_filter, nullptr, &h_filter), 0);
    ASSERT_TRUE(await_callbacks("1"));
    EXPECT_EQ(engine_.ok("cbanswer 0"), "0 2 0");
    EXPECT_EQ(g_filter.calls, 1u);
    EXPECT_EQ(g_filter.h_pb, h);
    EXPECT_EQ(g_filter.value, h_filter);
    EXPECT_EQ(g_filter.size, 8192u);
    EXPECT_EQ(g_filter.first_word, h_filter); // the engine's bytes, through the mapping
    EXPECT_EQ(info(h).at_filter[0].pv_buf, g_filter.buf);
    EXPECT_EQ(shm_mappings(), mappings + 1);

    EXPECT_EQ(IQivPb_Ctrl_TS_Filter_FreeBuffer(h, nullptr), -2);
    const uint32_t h_mem = info(h).at_filter[0].h_mem;
    EXPECT_EQ(IQivPb_Ctrl_TS_Filter_FreeBuffer(h, g_filter.buf), 0);
    EXPECT_EQ(seen("x_QivPb_Ctrl_TS_Filter_FreeBuffer", 1), std::to_string(h_mem));
    EXPECT_EQ(IQivPb_Ctrl_TS_Filter_FreeBuffer(h, g_filter.buf), -2); // never unmapped twice
    EXPECT_EQ(calls("x_QivPb_Ctrl_TS_Filter_FreeBuffer"), "1");
    EXPECT_EQ(shm_mappings(), mappings);
    expect_unlocked(h);

    // A buffer still held when its filter is freed is unmapped with it.
    EXPECT_EQ(IQivPb_Ctrl_TS_Filter_Free(h, h_filter), 0);
    ASSERT_EQ(IQivPb_Ctrl_TS_Filter_Alloc(h, &param, on_filter, nullptr, &h_filter), 0);
    ASSERT_TRUE(await_callbacks("2"));
    EXPECT_EQ(shm_mappings(), mappings + 1);
    EXPECT_EQ(IQivPb_Ctrl_TS_Filter_Free(h, h_filter), 0);
    EXPECT_EQ(shm_mappings(), mappings);

    // A confused engine: a buffer that does not map, a playback without filters.
    ASSERT_EQ(IQivPb_Ctrl_TS_Filter_Alloc(h, &param, on_filter, nullptr, &h_filter), 0);
    ASSERT_TRUE(await_callbacks("3"));
    const std::string fn = hex_addr(reinterpret_cast<void *>(&on_filter));
    EXPECT_EQ(engine_.ok("callback x_qivpbctrl_filter_allocate_nfy_fct " + fn + " 0x48:" + std::to_string(h) +
                         " 0x48:1 0x48:4026531839 0x48:64 0x48:0"),
              "-1 2 -1");
    EXPECT_EQ(engine_.ok("callback x_qivpbctrl_filter_allocate_nfy_fct " + fn +
                         " 0x48:999 0x48:1 0x48:1 0x48:64 0x48:0"),
              "-2 0 0");
    EXPECT_EQ(g_filter.calls, 3u);
    expect_unlocked(h);

    // A second filter's notice maps into its own entry: the held buffer stays.
    void *first = g_filter.buf;
    ASSERT_EQ(IQivPb_Ctrl_TS_Filter_Alloc(h, &param, on_filter, nullptr, &h_filter), 0);
    ASSERT_TRUE(await_callbacks("4"));
    EXPECT_NE(g_filter.buf, first);
    EXPECT_EQ(IQivPb_Ctrl_TS_Filter_FreeBuffer(h, first), 0);
    EXPECT_EQ(IQivPb_Ctrl_TS_Filter_FreeBuffer(h, g_filter.buf), 0);
    EXPECT_EQ(shm_mappings(), mappings);
}

// The engine's layout of the encryption memory, built here from the same segments.
std::vector<uint8_t> expected_memory(const std::vector<IQIV_PB_CTRL_ENCRYPT_SEG_T> &segs)
{
    std::vector<uint8_t> m(IQIV_PB_CTRL_ENCRYPT_MEM_SIZE, 0);
    const uint16_t n = static_cast<uint16_t>(segs.size());
    std::memcpy(m.data(), &n, 2);
    for (size_t j = 0; j < segs.size(); ++j) {
        uint8_t *p = m.data() + 4 + 808 * j;
        std::memcpy(p, segs[j].au4Value, 32);
        std::memcpy(p + 32, &segs[j].u4Value, 4);
        std::memcpy(p + 36, &segs[j].u4SubSampleNum, 4);
        std::memcpy(p + 40, segs[j].ptSubSample, 12 * segs[j].u4SubSampleNum);
    }
    return m;
}

TEST_F(PbctrlExt, EncryptionMemoryHoldsTheSegmentsInTheEngineLayout)
{
    const IQIV_PB_HANDLE_T h = open();
    std::vector<IQIV_PB_CTRL_SUBSAMPLE_T> subs(65);
    for (uint32_t i = 0; i < subs.size(); ++i)
        subs[i] = {{i, i * 2, i * 3}};
    std::vector<IQIV_PB_CTRL_ENCRYPT_SEG_T> segs(2049);
    for (uint32_t j = 0; j < segs.size(); ++j) {
        for (uint32_t k = 0; k < 8; ++k)
            segs[j].au4Value[k] = j * 100 + k;
        segs[j].u4Value = 0xA0000000u + j;
        segs[j].u4SubSampleNum = j % 65;
        segs[j].ptSubSample = subs.data();
    }
    IQIV_PB_CTRL_ENCRYPT_INFO_T info{IQIV_PB_CTRL_ENCRYPT_SAMPLE, 2049, 0, segs.data()};

    // Too many segments: -3 after the memory was obtained, with no call.
    testing::internal::CaptureStdout();
    EXPECT_EQ(IQivPb_Ctrl_SetEncryptInfo(h, &info), -3);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("<Client> x_QivPb_Ctrl_Get_Share_Mem_Handle, eMemType: 1, u4MemSize: 1654788 \n"),
              std::string::npos)
        << out;
    EXPECT_EQ(calls("x_QivPb_Ctrl_Get_Share_Mem_Handle"), "1");
    EXPECT_EQ(engine_.ok("codes x_QivPb_Ctrl_Get_Share_Mem_Handle"), "0x48 0xB1");
    EXPECT_EQ(calls("x_QivPb_Ctrl_SetEncryptInfo"), "0");
    expect_unlocked(h);

    // Segments of 0 to 64 sub-samples, into the same memory.
    const std::vector<IQIV_PB_CTRL_ENCRYPT_SEG_T> good(segs.begin() + 60, segs.begin() + 68);
    std::vector<IQIV_PB_CTRL_ENCRYPT_SEG_T> mine = good;
    info.u2SegNum = static_cast<uint16_t>(mine.size());
    info.ptSeg = mine.data();
    ASSERT_EQ(IQivPb_Ctrl_SetEncryptInfo(h, &info), 0);
    EXPECT_EQ(info.u2SegNum, 1);
    EXPECT_EQ(calls("x_QivPb_Ctrl_Get_Share_Mem_Handle"), "1");
    EXPECT_EQ(engine_.ok("codes x_QivPb_Ctrl_SetEncryptInfo"), "0x48 0x71");
    const std::vector<uint8_t> want = expected_memory(good);
    char sum[32];
    std::snprintf(sum, sizeof sum, "%016llx",
                  static_cast<unsigned long long>(pbsim::checksum_of(want.data(), want.size())));
    EXPECT_EQ(engine_.ok("encmem"), "segs=8 zero=0 bytes=1654788 sum=" + std::string(sum));
    EXPECT_EQ(engine_.ok("encseg 4"), hex_of(want.data() + 4 + 808 * 4, 32) + " " + std::to_string(good[4].u4Value) +
                                          " 64 " + hex_of(want.data() + 4 + 808 * 4 + 40, 64 * 12));

    // 65 sub-samples: -3, nothing sent, the memory kept for the next call.
    mine = good;
    mine[7].u4SubSampleNum = 65;
    info.u2SegNum = 8;
    EXPECT_EQ(IQivPb_Ctrl_SetEncryptInfo(h, &info), -3);
    EXPECT_EQ(info.u2SegNum, 8);
    EXPECT_EQ(calls("x_QivPb_Ctrl_SetEncryptInfo"), "1");
    expect_unlocked(h);
    info.u2SegNum = 1;
    EXPECT_EQ(IQivPb_Ctrl_SetEncryptInfo(h, &info), 0);
    EXPECT_EQ(calls("x_QivPb_Ctrl_Get_Share_Mem_Handle"), "1");
    EXPECT_EQ(engine_.ok("encmem").substr(0, 7), "segs=1 ");

    // Other record types go as they are; bad handles and records never reach the engine.
    IQIV_PB_CTRL_ENCRYPT_INFO_T plain{3, 5, 0, nullptr};
    EXPECT_EQ(IQivPb_Ctrl_SetEncryptInfo(h, &plain), 0);
    EXPECT_EQ(plain.u2SegNum, 5);
    EXPECT_EQ(IQivPb_Ctrl_SetEncryptInfo(999, &plain), -2);
    EXPECT_EQ(IQivPb_Ctrl_SetEncryptInfo(h, nullptr), -3);
    IQIV_PB_CTRL_ENCRYPT_INFO_T no_segs{IQIV_PB_CTRL_ENCRYPT_SAMPLE, 2, 0, nullptr};
    EXPECT_EQ(IQivPb_Ctrl_SetEncryptInfo(h, &no_segs), -3);
    EXPECT_EQ(calls("x_QivPb_Ctrl_SetEncryptInfo"), "3");
}

TEST_F(PbctrlExt, ConfusedEngineMemoryGivesErrorsNeverACrash)
{
    IQIV_PB_CTRL_ENCRYPT_SEG_T seg{};
    IQIV_PB_CTRL_ENCRYPT_INFO_T enc{IQIV_PB_CTRL_ENCRYPT_SAMPLE, 1, 0, &seg};
    const IQIV_PB_HANDLE_T h = open();
    const std::string small = engine_.ok("alloc kmem 4096");
    const uintptr_t small_h = std::stoul(small);
    auto share_record = [](uint32_t h_mem) {
        IQIV_PB_CTRL_SHARE_MEM_T r{1, IQIV_PB_CTRL_ENCRYPT_MEM_SIZE, h_mem};
        return hex_of(r);
    };
    const struct {
        std::string record;
        int32_t result;
    } cases[] = {
        {share_record(0), -1},                              // no handle
        {share_record(static_cast<uint32_t>(small_h)), -8}, // a block too small for the layout
        {share_record(0xEFFFFFFFu), -8},                    // a handle that maps nothing
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.record);
        engine_.ok("outhex x_QivPb_Ctrl_Get_Share_Mem_Handle 1 " + c.record);
        EXPECT_EQ(IQivPb_Ctrl_SetEncryptInfo(h, &enc), c.result);
        expect_unlocked(h);
    }
    EXPECT_EQ(calls("x_QivPb_Ctrl_SetEncryptInfo"), "0");

    // Snapshot planes that do not map, or smaller than the engine says.
    IQIV_PB_CTRL_SNAPSHOT_DESC_T bad{{1, 2, 3}, 0, 0xEFFFFFF0u, 16, 0xEFFFFFF1u, 16};
    IQIV_PB_CTRL_SNAPSHOT_DESC_T short_planes{{1, 2, 3}, 0, small_h, 8192, small_h, 16};
    IQIV_PB_CTRL_SNAPSHOT_DESC_EXT_T bad_ext{{}, 0xEFFFFFF0u, 16, 0xEFFFFFF1u, 16};
    IQIV_PB_CTRL_RECT_T rect{};
    IQIV_PB_CTRL_SNAPSHOT_PARAM_T param{};
    IQIV_PB_CTRL_SNAPSHOT_DESC_T desc{};
    IQIV_PB_CTRL_SNAPSHOT_DESC_EXT_T desc_ext{};
    const size_t mappings = shm_mappings();
    for (const std::string &record : {hex_of(bad), hex_of(short_planes)}) {
        engine_.ok("outhex x_IQivPb_Ctrl_Ext_Ipc_StartSnapshot 4 " + record);
        EXPECT_EQ(IQivPb_Ctrl_Ext_StartSnapshot(h, 0, &rect, &param, &desc), -1);
    }
    engine_.ok("outhex x_IQivPb_Ctrl_Ext_Ipc_StartSnapshot_Ext 4 " + hex_of(bad_ext));
    EXPECT_EQ(IQivPb_Ctrl_Ext_StartSnapshot_Ext(h, 0, &rect, &param, &desc_ext), -1);
    EXPECT_EQ(info(h).p_snap_list, nullptr);
    EXPECT_EQ(info(h).p_snap_ext, nullptr);
    EXPECT_EQ(shm_mappings(), mappings);
    expect_unlocked(h);
}

TEST_F(PbctrlExt, FirstFormSnapshotsKeepAListOfMappedPlanes)
{
    const IQIV_PB_HANDLE_T h = open(IQIV_PB_BUF_MOD_PULL);
    const auto uid = static_cast<uint32_t>(pbctrl::find_by_handle(h));
    IQIV_PB_CTRL_RECT_T rect{0, 0, 320, 240};
    IQIV_PB_CTRL_SNAPSHOT_PARAM_T param{1, 320, 240, 80};
    IQIV_PB_CTRL_SNAPSHOT_DESC_T a{}, b{}, out{};
    const size_t mappings = shm_mappings();
    ASSERT_EQ(IQivPb_Ctrl_Ext_StartSnapshot(h, 1, &rect, &param, &a), 0);
    ASSERT_EQ(IQivPb_Ctrl_Ext_StartSnapshot(h, 1, &rect, &param, &b), 0);
    EXPECT_EQ(a.au4Value[2], 0x33u);
    EXPECT_EQ(a.u4YSize, 4096u);
    EXPECT_EQ(a.u4CSize, 2048u);
    EXPECT_EQ(reinterpret_cast<uint8_t *>(a.uY)[4095], 'Y'); // the engine's planes, mapped
    EXPECT_EQ(reinterpret_cast<uint8_t *>(b.uC)[0], 'C');
    EXPECT_EQ(shm_mappings(), mappings + 4);

    // The record gives back the engine's handles of a local description.
    ASSERT_EQ(IQivPb_Ctrl_Ext_Ipc_Get_Snapshot_Mem_Hnd(uid, &b, &out), 0);
    EXPECT_NE(out.uY, 0u);
    EXPECT_NE(out.uY, b.uY);
    IQIV_PB_CTRL_SNAPSHOT_DESC_T stranger{};
    stranger.uY = 1;
    EXPECT_EQ(IQivPb_Ctrl_Ext_Ipc_Get_Snapshot_Mem_Hnd(uid, &stranger, &out), -3);
    EXPECT_EQ(IQivPb_Ctrl_Ext_Ipc_Del_Snapshot_Mem(uid, &stranger), 0);   // not in a non-empty list
    EXPECT_EQ(IQivPb_Ctrl_Ext_Ipc_Get_Snapshot_Mem_Hnd(3, &b, &out), -3); // slot index above 2
    EXPECT_EQ(IQivPb_Ctrl_Ext_Ipc_Add_Snapshot_Mem(3, 0, &b, &out), -3);
    EXPECT_EQ(IQivPb_Ctrl_Ext_Ipc_Add_Snapshot_Mem((uid + 1) % 3, 0, &b, &out), -3); // a slot not in use
    EXPECT_EQ(IQivPb_Ctrl_Ext_Ipc_Add_Snapshot_Mem(uid, 0, nullptr, &out), -3);
    expect_unlocked(h);

    EXPECT_EQ(IQivPb_Ctrl_Ext_StopSnapshot(h, &a), 0);
    EXPECT_EQ(IQivPb_Ctrl_Ext_StopSnapshot(h, &a), -1); // forgotten, planes unmapped
    EXPECT_EQ(IQivPb_Ctrl_Ext_StopSnapshot(h, nullptr), -2);
    EXPECT_EQ(IQivPb_Ctrl_Ext_StopSnapshot(999, &b), -2);
    EXPECT_EQ(IQivPb_Ctrl_Ext_StartSnapshot(h, 1, &rect, &param, nullptr), -3);
    EXPECT_EQ(IQivPb_Ctrl_Ext_StopSnapshot(h, &b), 0);
    EXPECT_EQ(shm_mappings(), mappings);
    EXPECT_EQ(IQivPb_Ctrl_Ext_Ipc_Del_Snapshot_Mem(uid, &b), -3); // empty list
    EXPECT_EQ(calls("x_IQivPb_Ctrl_Ext_Ipc_StopSnapshot"), "0");  // this form makes no stop call
    engine_.ok("result x_IQivPb_Ctrl_Ext_Ipc_StartSnapshot -4");
    EXPECT_EQ(IQivPb_Ctrl_Ext_StartSnapshot(h, 1, &rect, &param, &a), -1);
    expect_unlocked(h);

    // Records still there at close go with their planes.
    engine_.ok("result x_IQivPb_Ctrl_Ext_Ipc_StartSnapshot 0");
    ASSERT_EQ(IQivPb_Ctrl_Ext_StartSnapshot(h, 1, &rect, &param, &a), 0);
    IQIV_PB_CTRL_SNAPSHOT_DESC_EXT_T ext{};
    ASSERT_EQ(IQivPb_Ctrl_Ext_StartSnapshot_Ext(h, 1, &rect, &param, &ext), 0);
    close(h);
    EXPECT_EQ(shm_mappings(), mappings);
}

TEST_F(PbctrlExt, SecondFormSnapshotKeepsOneRecordAndRemapsTheSamePlanes)
{
    const IQIV_PB_HANDLE_T h = open();
    const auto uid = static_cast<uint32_t>(pbctrl::find_by_handle(h));
    IQIV_PB_CTRL_RECT_T rect{0, 0, 64, 64};
    IQIV_PB_CTRL_SNAPSHOT_PARAM_T param{2, 64, 64, 50};
    IQIV_PB_CTRL_SNAPSHOT_DESC_EXT_T a{}, b{}, c{}, out{};
    const size_t mappings = shm_mappings();
    engine_.ok("snapshot reuse 8192 4096");
    ASSERT_EQ(IQivPb_Ctrl_Ext_StartSnapshot_Ext(h, 1, &rect, &param, &a), 0);
    EXPECT_EQ(a.au4Value[5], 0x66u);
    EXPECT_EQ(a.u4YSize, 8192u);
    EXPECT_EQ(reinterpret_cast<uint8_t *>(a.uY)[8191], 'Y');
    ASSERT_EQ(IQivPb_Ctrl_Ext_Ipc_Get_Snapshot_Mem_Hnd_Ext(uid, &a, &out), 0);
    const uintptr_t h_y = out.uY, h_c = out.uC;
    EXPECT_EQ(out.u4CSize, 4096u);

    // The same planes again: remapped, one record, nothing left mapped twice.
    ASSERT_EQ(IQivPb_Ctrl_Ext_StartSnapshot_Ext(h, 1, &rect, &param, &b), 0);
    EXPECT_EQ(reinterpret_cast<uint8_t *>(b.uC)[4095], 'C');
    EXPECT_EQ(shm_mappings(), mappings + 2);
    ASSERT_EQ(IQivPb_Ctrl_Ext_Ipc_Get_Snapshot_Mem_Hnd_Ext(uid, &b, &out), 0);
    EXPECT_EQ(out.uY, h_y);
    EXPECT_EQ(out.uC, h_c);

    // Other planes while one record stands: -2, nothing of them left mapped.
    engine_.ok("snapshot fresh");
    EXPECT_EQ(IQivPb_Ctrl_Ext_StartSnapshot_Ext(h, 1, &rect, &param, &c), -2);
    EXPECT_EQ(shm_mappings(), mappings + 2);
    EXPECT_EQ(IQivPb_Ctrl_Ext_Ipc_Del_Snapshot_Mem_Ext(uid, &c), -2);
    EXPECT_EQ(IQivPb_Ctrl_Ext_Ipc_Get_Snapshot_Mem_Hnd_Ext(uid, &c, &out), -3);
    EXPECT_EQ(IQivPb_Ctrl_Ext_Ipc_Get_Snapshot_Mem_Hnd_Ext(7, &b, &out), -3);
    EXPECT_EQ(IQivPb_Ctrl_Ext_StopSnapshot_Ext(h, nullptr), -2);
    EXPECT_EQ(IQivPb_Ctrl_Ext_StopSnapshot_Ext(999, &b), -2);
    EXPECT_EQ(IQivPb_Ctrl_Ext_StartSnapshot_Ext(999, 1, &rect, &param, &c), -2);
    EXPECT_EQ(IQivPb_Ctrl_Ext_StartSnapshot_Ext(h, 1, &rect, &param, nullptr), -3);
    expect_unlocked(h);

    // Only one plane shared with the record: refused, the other not left mapped.
    const HANDLE_T other_c = x_kmem_block_alloc(4096);
    const IQIV_PB_CTRL_SNAPSHOT_DESC_EXT_T half{{}, h_y, 8192, other_c, 4096};
    engine_.ok("outhex x_IQivPb_Ctrl_Ext_Ipc_StartSnapshot_Ext 4 " + hex_of(half));
    EXPECT_EQ(IQivPb_Ctrl_Ext_StartSnapshot_Ext(h, 1, &rect, &param, &c), -1);
    EXPECT_EQ(shm_mappings(), mappings + 2);
    x_kmem_block_free(other_c);

    // A stop the engine refuses keeps the planes; the next one ends them.
    engine_.ok("result x_IQivPb_Ctrl_Ext_Ipc_StopSnapshot_Ext -1");
    EXPECT_EQ(IQivPb_Ctrl_Ext_StopSnapshot_Ext(h, &b), -1);
    EXPECT_EQ(reinterpret_cast<uint8_t *>(b.uY)[0], 'Y');
    engine_.ok("result x_IQivPb_Ctrl_Ext_Ipc_StopSnapshot_Ext 0");
    EXPECT_EQ(IQivPb_Ctrl_Ext_StopSnapshot_Ext(h, &b), 0);
    const std::string stopped = seen("x_IQivPb_Ctrl_Ext_Ipc_StopSnapshot_Ext", 1);
    EXPECT_EQ(stopped.substr(48, 8), hex_of(&h_y, 4)) << stopped; // the engine's handles
    EXPECT_EQ(IQivPb_Ctrl_Ext_StopSnapshot_Ext(h, &b), -1);
    EXPECT_EQ(IQivPb_Ctrl_Ext_Ipc_Del_Snapshot_Mem_Ext(uid, &b), -3);
    EXPECT_EQ(info(h).p_snap_ext, nullptr);
    EXPECT_EQ(shm_mappings(), mappings);
    expect_unlocked(h);
}

} // namespace
