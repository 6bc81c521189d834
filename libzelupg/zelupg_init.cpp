#include "upg_device.h"
#include "zelupg_cmd.h"
#include "zelupg_log.h"
#include "zelupg_trans.h"

#include <libusb.h>

namespace {
bool g_initialised = false;
libusb_context *g_ctx = nullptr;
}  // namespace

int libzelupg_init(void)
{
    if (g_initialised)
        return 0;
    zelupg_cmd_clear_fwc_meta_sent();
    zelupg_trans_reset_tag();
    int rc = libusb_init(&g_ctx);
    if (rc != 0) {
        g_ctx = nullptr;
        upg_err("libusb_init() failed");
        return rc;
    }
    g_initialised = true;
    return 0;
}

void libzelupg_exit(void)
{
    if (g_initialised)
        libusb_exit(g_ctx);
    g_ctx = nullptr;
    zelupg_trans_reset_tag();
    zelupg_cmd_clear_fwc_meta_sent();
    g_initialised = false;
}

libusb_context *zelupg_usb_context(void)
{
    return g_ctx;
}
