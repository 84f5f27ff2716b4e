// Library start and end, and the connection to the misc service.
#include "qivpbmisc.h"
#include "remote_call.h"

#include <pthread.h>

#include <cstdio>

namespace pbmisc {
std::atomic<int32_t> t_iqivpbsnd_client_rpc_id{0};
} // namespace pbmisc

using namespace pbmisc;

namespace {

constexpr const char *kConnText = "qivpbmisc";

uint8_t b_misc_inited = 0;
uint32_t ui4_misc_open_count = 0;
// Init and terminate may come from several threads at once; never held
// across a remote call.
pthread_mutex_t t_misc_mutex = PTHREAD_MUTEX_INITIALIZER;

} // namespace

extern "C" {

int32_t c_rpc_misc_client_init(void)
{
    puts("c_rpc_misc_client_init is called");
    rpc_init(0);
    return 0;
}

int32_t c_rpc_start_misc_client(void)
{
    puts("c_rpc_start_misc_client is called");
    return rpc_open_client(kConnText);
}

int32_t c_rpc_init_qivpbmisc_client(void) { return c_rpc_start_misc_client(); }

int32_t c_rpc_uninit_qivpbmisc_client(int32_t i4_id)
{
    rpc_close_client(i4_id);
    rpc_del(i4_id);
    return 0;
}

int32_t c_rpc_reg_qivpbmisc_cb_hndlrs(void)
{
    puts("c_rpc_reg_qivpbmisc_cb_hndlrs is called");
    puts("RPC_REG_CB_HNDLR succeed");
    return 0;
}

int32_t QivPb_Misc_Client_Init(void)
{
    pthread_mutex_lock(&t_misc_mutex);
    if (ui4_misc_open_count == 0)
        t_iqivpbsnd_client_rpc_id.store(c_rpc_init_qivpbmisc_client());
    ++ui4_misc_open_count;
    pthread_mutex_unlock(&t_misc_mutex);
    printf("<MISC CLIENT>t_iqivpbsnd_client_rpc_id is: %d\n", t_iqivpbsnd_client_rpc_id.load());
    return call<kClientInit>(__LINE__, {0});
}

int32_t QivPb_Misc_Client_Terminate(void) { return call<kClientTerminate>(__LINE__, {0}); }

int32_t IQivPb_Misc_Init(void)
{
    pthread_mutex_lock(&t_misc_mutex);
    if (!b_misc_inited) {
        b_misc_inited = 1;
        c_rpc_misc_client_init();
        rpcu_tl_log_start(0);
        c_rpc_reg_qivpbmisc_cb_hndlrs();
    }
    pthread_mutex_unlock(&t_misc_mutex);
    QivPb_Misc_Client_Init();
    return 0;
}

int32_t IQivPb_Misc_Terminate(void)
{
    pthread_mutex_lock(&t_misc_mutex);
    const bool was_inited = b_misc_inited;
    b_misc_inited = 0;
    pthread_mutex_unlock(&t_misc_mutex);
    if (was_inited) {
        QivPb_Misc_Client_Terminate();
        rpcu_tl_log_end();
    }
    return 0;
}

} // extern "C"
