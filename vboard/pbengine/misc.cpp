#include "misc.h"

#include "sim.h"
#include "sim_text.h"

#include "korm.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>

namespace pbsim {

namespace {

constexpr int8_t kBadArgs = -3;
constexpr int8_t kNoRoom = -1;
constexpr uint8_t kDefaultVolume = 50;
constexpr size_t kMaxChannels = 64;
constexpr uint32_t kPrefLanguage = 1;
constexpr uint32_t kPrefText = 101;
constexpr size_t kTextSize = 255;
constexpr uint32_t kPrefArgs = 5;

struct Misc {
    std::mutex mu;
    std::map<uint32_t, uint8_t> volumes;
    uint32_t lang_type = 0;
    uint8_t lang_codes[3] = {};
    std::string text;
    uint16_t text_value = 0;
};

Misc &misc()
{
    static auto *m = new Misc;
    return *m;
}

bool has_codes(uint32_t argc, const RPC_ARG_T *args, std::initializer_list<uint32_t> codes)
{
    if (argc != codes.size())
        return false;
    return std::equal(codes.begin(), codes.end(), args,
                      [](uint32_t code, const RPC_ARG_T &a) { return a.e_type == code; });
}

int8_t get_language(Misc &m, RPC_ARG_T *args)
{
    write_out(args[1], m.lang_type);
    for (int i = 0; i < 3; ++i)
        write_out(args[2 + i], m.lang_codes[i]);
    return 0;
}

// The text goes into the client's block; the record's first byte tells
// whether a text is set, the value at 256 is the service's own.
int8_t get_text(Misc &m, RPC_ARG_T *args)
{
    auto *block = static_cast<char *>(x_smem_block_map(args[2].u.ui4));
    if (!block)
        return kBadArgs;
    std::memset(block, 0, kTextSize);
    std::memcpy(block, m.text.data(), std::min(m.text.size(), kTextSize));
    x_smem_block_unmap(block);
    write_out(args[1], m.text.empty() ? 0 : 1);
    write_out(args[3], m.text_value);
    return 0;
}

// Each answers kBadArgs to a call of another shape.
int8_t init_or_terminate(int32_t, uint32_t argc, RPC_ARG_T *args)
{
    return has_codes(argc, args, {ARG_TYPE_INT8}) ? 0 : kBadArgs;
}

int8_t get_volume(int32_t, uint32_t argc, RPC_ARG_T *args)
{
    if (!has_codes(argc, args, {ARG_TYPE_UINT32, ARG_TYPE_REF_UINT8_OUT}))
        return kBadArgs;
    Misc &m = misc();
    std::lock_guard<std::mutex> lock(m.mu);
    auto it = m.volumes.find(args[0].u.ui4);
    write_out(args[1], it == m.volumes.end() ? kDefaultVolume : it->second);
    return 0;
}

int8_t set_volume(int32_t, uint32_t argc, RPC_ARG_T *args)
{
    if (!has_codes(argc, args, {ARG_TYPE_UINT32, ARG_TYPE_UINT8}))
        return kBadArgs;
    Misc &m = misc();
    std::lock_guard<std::mutex> lock(m.mu);
    const uint32_t channel = args[0].u.ui4;
    const bool room = m.volumes.count(channel) || m.volumes.size() < kMaxChannels;
    if (room)
        m.volumes[channel] = args[1].u.ui1;
    return room ? 0 : kNoRoom;
}

int8_t get_user_pref(int32_t, uint32_t argc, RPC_ARG_T *args)
{
    if (argc != kPrefArgs)
        return kBadArgs;
    Misc &m = misc();
    std::lock_guard<std::mutex> lock(m.mu);
    if (args[0].u.ui4 == kPrefLanguage && has_codes(argc, args,
                                                    {ARG_TYPE_UINT32, ARG_TYPE_REF_UINT32_OUT, ARG_TYPE_REF_UINT8_OUT,
                                                     ARG_TYPE_REF_UINT8_OUT, ARG_TYPE_REF_UINT8_OUT}))
        return get_language(m, args);
    if (args[0].u.ui4 == kPrefText &&
        has_codes(argc, args,
                  {ARG_TYPE_UINT32, ARG_TYPE_REF_BYTE_OUT, ARG_TYPE_UINT32, ARG_TYPE_REF_UINT16_OUT, ARG_TYPE_UINT32}))
        return get_text(m, args);
    return kBadArgs;
}

const Operation kMiscOps[] = {
    {"x_QivPb_Misc_Init", scripted<init_or_terminate>},    {"x_QivPb_Misc_Terminate", scripted<init_or_terminate>},
    {"x_QivPb_Misc_GetAudioVolume", scripted<get_volume>}, {"x_QivPb_Misc_SetAudioVolume", scripted<set_volume>},
    {"x_QivPb_Misc_GetUserPref", scripted<get_user_pref>},
};

} // namespace

void install_misc() { register_ops(kMiscOps); }

std::string misc_command(std::istringstream &in)
{
    std::string what;
    in >> what;
    Misc &m = misc();
    uint64_t a = 0;
    std::string word;
    if (what == "volume" && in >> word && parse_number(word, a)) {
        std::lock_guard<std::mutex> lock(m.mu);
        auto it = m.volumes.find(static_cast<uint32_t>(a));
        return "ok " + std::to_string(it == m.volumes.end() ? kDefaultVolume : it->second);
    }
    if (what == "lang" && in >> word && parse_number(word, a)) {
        uint64_t codes[3] = {};
        for (uint64_t &c : codes)
            if (!(in >> word) || !parse_number(word, c) || c > UINT8_MAX)
                return "error usage: misc lang TYPE C0 C1 C2";
        std::lock_guard<std::mutex> lock(m.mu);
        m.lang_type = static_cast<uint32_t>(a);
        for (int i = 0; i < 3; ++i)
            m.lang_codes[i] = static_cast<uint8_t>(codes[i]);
        return "ok";
    }
    if (what == "text" && in >> word && parse_number(word, a) && a <= UINT16_MAX) {
        std::string text;
        std::getline(in >> std::ws, text);
        std::lock_guard<std::mutex> lock(m.mu);
        m.text_value = static_cast<uint16_t>(a);
        m.text = text.substr(0, kTextSize);
        return "ok";
    }
    return "error usage: misc volume CH | misc lang TYPE C0 C1 C2 | misc text VALUE [TEXT]";
}

void misc_reset()
{
    Misc &m = misc();
    std::lock_guard<std::mutex> lock(m.mu);
    m.volumes.clear();
    m.lang_type = 0;
    std::fill(std::begin(m.lang_codes), std::end(m.lang_codes), 0);
    m.text.clear();
    m.text_value = 0;
}

} // namespace pbsim
