/* A scanner backend whose device stops answering in the middle of a page:
 * a read never returns, a cancel changes nothing, and closing the device
 * or ending the backend waits for the read, as a backend joining its
 * reader would. SANE loads it as "stuck" from LD_LIBRARY_PATH. */
#include <sane/sane.h>
#include <sane/saneopts.h>

#include <string.h>
#include <unistd.h>

static const SANE_Device device = {"0", "Tolm", "stuck", "flatbed scanner"};
static const SANE_Device* devices[] = {&device, NULL};
static SANE_Option_Descriptor count = {.name = SANE_NAME_NUM_OPTIONS,
                                       .title = "",
                                       .desc = "",
                                       .type = SANE_TYPE_INT,
                                       .unit = SANE_UNIT_NONE,
                                       .size = sizeof(SANE_Word),
                                       .cap = SANE_CAP_SOFT_DETECT,
                                       .constraint_type = SANE_CONSTRAINT_NONE};
static volatile int reading = 0;

static void waitForever(void)
{
  for (;;)
    sleep(1000);
}

SANE_Status sane_stuck_init(SANE_Int* version, SANE_Auth_Callback authorize)
{
  (void)authorize;
  if (version)
    *version = SANE_VERSION_CODE(1, 0, 0);
  return SANE_STATUS_GOOD;
}

void sane_stuck_exit(void)
{
  if (reading)
    waitForever();
}

SANE_Status sane_stuck_get_devices(const SANE_Device*** list, SANE_Bool local)
{
  (void)local;
  *list = devices;
  return SANE_STATUS_GOOD;
}

SANE_Status sane_stuck_open(SANE_String_Const name, SANE_Handle* h)
{
  (void)name;
  *h = (SANE_Handle)&device;
  return SANE_STATUS_GOOD;
}

void sane_stuck_close(SANE_Handle h)
{
  (void)h;
  if (reading)
    waitForever();
}

const SANE_Option_Descriptor* sane_stuck_get_option_descriptor(SANE_Handle h, SANE_Int n)
{
  (void)h;
  return n == 0 ? &count : NULL;
}

SANE_Status sane_stuck_control_option(SANE_Handle h, SANE_Int n, SANE_Action a, void* v,
                                      SANE_Int* info)
{
  (void)h;
  if (info)
    *info = 0;
  if (n == 0 && a == SANE_ACTION_GET_VALUE) {
    *(SANE_Word*)v = 1;
    return SANE_STATUS_GOOD;
  }
  return SANE_STATUS_INVAL;
}

SANE_Status sane_stuck_get_parameters(SANE_Handle h, SANE_Parameters* p)
{
  (void)h;
  memset(p, 0, sizeof *p);
  p->format = SANE_FRAME_GRAY;
  p->last_frame = SANE_TRUE;
  p->bytes_per_line = 8;
  p->pixels_per_line = 8;
  p->lines = 8;
  p->depth = 8;
  return SANE_STATUS_GOOD;
}

SANE_Status sane_stuck_start(SANE_Handle h)
{
  (void)h;
  return SANE_STATUS_GOOD;
}

SANE_Status sane_stuck_read(SANE_Handle h, SANE_Byte* data, SANE_Int max, SANE_Int* length)
{
  (void)h;
  (void)data;
  (void)max;
  *length = 0;
  reading = 1;
  waitForever();
  return SANE_STATUS_IO_ERROR;
}

void sane_stuck_cancel(SANE_Handle h) { (void)h; }

SANE_Status sane_stuck_set_io_mode(SANE_Handle h, SANE_Bool nonBlocking)
{
  (void)h;
  return nonBlocking ? SANE_STATUS_UNSUPPORTED : SANE_STATUS_GOOD;
}

SANE_Status sane_stuck_get_select_fd(SANE_Handle h, SANE_Int* fd)
{
  (void)h;
  (void)fd;
  return SANE_STATUS_UNSUPPORTED;
}
