/* A plain C application of the source manager, with its own declarations of
 * the records it uses, as an application compiled against the published
 * header has. Its notification procedure calls the manager back while the
 * main thread disables the source, round after round:
 *
 *   dsm_client LIBRARY ROUNDS
 *
 * Exit status 0 when every round passed; a hang is caught by the caller's
 * timeout. Messages on stderr say what failed. */
#include <dlfcn.h>
#include <stdatomic.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

typedef struct {
  uint16_t MajorNum, MinorNum, Language, Country;
  uint8_t Info[34];
} Version;

typedef struct {
  uint64_t Id;
  Version Version;
  uint16_t ProtocolMajor, ProtocolMinor;
  uint32_t SupportedGroups;
  uint8_t Manufacturer[34], ProductFamily[34], ProductName[34];
} Identity;

typedef struct {
  uint16_t ConditionCode, Data;
} Status;

typedef struct {
  uint16_t ShowUI, ModalUI;
  void* hParent;
} UserInterface;

typedef struct {
  void* CallBackProc;
  void* RefCon;
  int16_t Message;
} Callback;

typedef uint16_t (*Entry)(Identity*, Identity*, uint32_t, uint16_t, uint16_t, void*);

enum {
  DG_CONTROL = 1,
  DG_IMAGE = 2,
  DF_APP2 = 0x20000000,
  DAT_NULL = 0,
  DAT_IDENTITY = 3,
  DAT_PARENT = 4,
  DAT_STATUS = 8,
  DAT_USERINTERFACE = 9,
  DAT_CALLBACK = 0x10,
  MSG_GET = 1,
  MSG_GETDEFAULT = 3,
  MSG_OPENDSM = 0x301,
  MSG_CLOSEDSM = 0x302,
  MSG_OPENDS = 0x401,
  MSG_CLOSEDS = 0x402,
  MSG_DISABLEDS = 0x501,
  MSG_ENABLEDS = 0x502,
  MSG_REGISTER_CALLBACK = 0x902,
  MSG_CLOSEDSREQ = 0x102,
  TWRC_SUCCESS = 0,
};

static Entry entry;
static Identity app, source;
static atomic_int entered;      /* notifications that reached the procedure */
static atomic_int finished;     /* ... and returned from it */
static atomic_int statusFailed; /* calls from the procedure that failed */
static atomic_int disabled;     /* the main thread's disable returned */
static atomic_int late;         /* a notification after the disable returned */

static void pause_ms(long ms)
{
  struct timespec t = {ms / 1000, (ms % 1000) * 1000000L};
  nanosleep(&t, NULL);
}

static uint16_t notified(Identity* origin, Identity* dest, uint32_t dg, uint16_t dat, uint16_t msg,
                         void* data)
{
  (void)origin, (void)dest, (void)dg, (void)dat, (void)data;
  if (atomic_load(&disabled))
    atomic_fetch_add(&late, 1);
  atomic_fetch_add(&entered, 1);
  /* long enough for the main thread to be inside its disable */
  pause_ms(5);
  Status st;
  if (entry(&app, NULL, DG_CONTROL, DAT_STATUS, MSG_GET, &st) != TWRC_SUCCESS)
    atomic_fetch_add(&statusFailed, 1);
  if (entry(&app, &source, DG_CONTROL, DAT_STATUS, MSG_GET, &st) != TWRC_SUCCESS)
    atomic_fetch_add(&statusFailed, 1);
  (void)msg;
  atomic_fetch_add(&finished, 1);
  return TWRC_SUCCESS;
}

static int call(Identity* dest, uint16_t dat, uint16_t msg, void* data, const char* what)
{
  uint16_t rc = entry(&app, dest, DG_CONTROL, dat, msg, data);
  if (rc != TWRC_SUCCESS) {
    Status st = {0, 0};
    entry(&app, dest, DG_CONTROL, DAT_STATUS, MSG_GET, &st);
    fprintf(stderr, "%s: rc %u, condition %u\n", what, rc, st.ConditionCode);
    return 0;
  }
  return 1;
}

int main(int argc, char** argv)
{
  if (argc != 3) {
    fprintf(stderr, "usage: dsm_client LIBRARY ROUNDS\n");
    return 2;
  }
  const int rounds = atoi(argv[2]);
  /* no pages: enabling asks at once for the source to be closed */
  setenv("TOLM_DSM_PAGES", "count=0", 1);
  setenv("TOLM_DSM_SANE", "0", 1);
  void* lib = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  if (!lib || !(entry = (Entry)dlsym(lib, "DSM_Entry"))) {
    fprintf(stderr, "cannot load %s: %s\n", argv[1], dlerror());
    return 1;
  }
  app.Version.MajorNum = 1;
  app.ProtocolMajor = 2;
  app.ProtocolMinor = 3;
  app.SupportedGroups = DF_APP2 | DG_CONTROL | DG_IMAGE;
  if (!call(NULL, DAT_PARENT, MSG_OPENDSM, NULL, "open the manager") ||
      !call(NULL, DAT_IDENTITY, MSG_GETDEFAULT, &source, "default source") ||
      !call(NULL, DAT_IDENTITY, MSG_OPENDS, &source, "open the source"))
    return 1;
  Callback cb = {(void*)notified, NULL, 0};
  if (!call(&source, DAT_CALLBACK, MSG_REGISTER_CALLBACK, &cb, "register"))
    return 1;

  int failures = 0;
  for (int round = 0; round < rounds; ++round) {
    atomic_store(&disabled, 0);
    const int before = atomic_load(&entered);
    UserInterface ui = {0, 0, NULL};
    if (!call(&source, DAT_USERINTERFACE, MSG_ENABLEDS, &ui, "enable"))
      return 1;
    /* Even rounds: disable while the procedure runs and calls back. Odd
     * rounds: disable before the notification is delivered, which drops it. */
    if (round % 2 == 0) {
      for (int i = 0; i < 4000 && atomic_load(&entered) == before; ++i)
        pause_ms(1);
      if (atomic_load(&entered) == before) {
        fprintf(stderr, "round %d: no notification\n", round);
        ++failures;
      }
    }
    UserInterface off = {0, 0, NULL};
    if (!call(&source, DAT_USERINTERFACE, MSG_DISABLEDS, &off, "disable"))
      return 1;
    atomic_store(&disabled, 1);
    if (atomic_load(&finished) != atomic_load(&entered)) {
      fprintf(stderr, "round %d: the disable returned while the procedure ran\n", round);
      ++failures;
    }
  }
  pause_ms(20); /* time for a notification that was not dropped */
  if (atomic_load(&late)) {
    fprintf(stderr, "%d notifications after the disable returned\n", atomic_load(&late));
    ++failures;
  }
  if (atomic_load(&statusFailed)) {
    fprintf(stderr, "%d status requests from the procedure failed\n", atomic_load(&statusFailed));
    ++failures;
  }
  if (!call(NULL, DAT_IDENTITY, MSG_CLOSEDS, &source, "close the source") ||
      !call(NULL, DAT_PARENT, MSG_CLOSEDSM, NULL, "close the manager"))
    return 1;
  printf("%d rounds, %d notifications\n", rounds, atomic_load(&entered));
  return failures ? 1 : 0;
}
