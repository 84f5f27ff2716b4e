// Library start and end, and the connection to the engine.
#include "client_info.h"
#include "rpcipc.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr const char *kConnText = "qivpbctrl -logfunction -loglevel";
constexpr uint32_t kTransportLogLevel = 15;

uint8_t b_inited = 0;
uint32_t ui4_init_count = 0;
// Init and terminate may come from several threads at once.
pthread_mutex_t t_init_mutex = PTHREAD_MUTEX_INITIALIZER;

void clear_client_info() { std::memset(static_cast<void *>(pbctrl::t_client_info), 0, sizeof pbctrl::t_client_info); }

} // namespace

extern "C" {

int32_t c_rpc_client_init(void)
{
    puts("c_rpc_client_init is called");
    rpc_init(0);
    return 0;
}

int32_t c_rpc_start_client(void)
{
    puts("c_rpc_start_client is called");
    return rpc_open_client(kConnText, rpcu_default_output_log, kTransportLogLevel);
}

int32_t c_rpc_init_qivpbctrl_client(void) { return c_rpc_start_client(); }

int32_t c_rpc_uninit_qivpbctrl_client(int32_t i4_id)
{
    puts("c_rpc_uninit_qivpbctrl_client");
    rpc_close_client(i4_id);
    rpc_del(i4_id);
    return 0;
}

int32_t IQivPb_Ctrl_Init(void)
{
    pbctrl::MutexGuard lock(t_init_mutex);
    if (!b_inited) {
        c_rpc_client_init();
        rpcu_tl_log_start(0);
        c_rpc_reg_qivpbctrl_cb_hndlrs();
        clear_client_info();
        if (pthread_mutex_init(&pbctrl::t_info_mutex, nullptr) != 0)
            CLIENT_LOG(pbctrl::kLogErr, "<Client>ERR: pthread_mutex_init fail@Line: %d\n", __LINE__);
        pbctrl::b_client_opened.store(0);
        b_inited = 1;
    }
    ++ui4_init_count;
    return 0;
}

int32_t IQivPb_Ctrl_Terminate(void)
{
    printf("<Client> %s ------> is Called %d\n", __func__, __LINE__);
    pbctrl::MutexGuard lock(t_init_mutex);
    if (b_inited) {
        if (--ui4_init_count > 0) {
            printf("not the last caller,ui4_init_count=%x \n", ui4_init_count);
        } else {
            rpcu_tl_log_end();
            clear_client_info();
            pthread_mutex_destroy(&pbctrl::t_info_mutex);
            pbctrl::b_client_opened.store(0);
            b_inited = 0;
        }
    }
    return 0;
}

} // extern "C"
