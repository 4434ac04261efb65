// Our scanner source manager: one entry point, the manager's own triplets
// (open/close, status, entry points, identities, callbacks) and routing of
// everything else to the data sources.
//
// Configuration comes from the environment:
//   TOLM_DSM_PAGES   generated pages, e.g. "count=3,skew=2,border,separator=2"
//                    (every switch: twain/dsm/VirtualFeed.hh)
//   TOLM_DSM_FILES   pages from image files instead, separated by ':'
//   TOLM_DSM_FAULTS  fault injection, e.g. "strip=3,cancel=2,close=1"
//   TOLM_DSM_SOURCE  the product name MSG_USERSELECT picks (no dialogue here)
//   TOLM_DSM_TRACE   a file every triplet is appended to, one line each
#include "twain/TwainABI.hh"
#include "twain/dsm/Source.hh"
#include "twain/dsm/VirtualFeed.hh"

#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

using namespace twain;

namespace twaindsm {

// Scanner devices (sane_feed.cc).
void addSaneSources(std::vector<std::unique_ptr<Source>>& out, const Faults& faults);
void endSane();

namespace {

struct Manager {
  std::mutex mutex;
  bool open = false;
  TW_IDENTITY app{};
  TW_UINT16 status = TWCC_SUCCESS; // the manager's own condition code
  std::vector<std::unique_ptr<Source>> sources;
  bool devicesListed = false; // devices are looked for only when asked for
  Faults faults;
  size_t next = 0;                 // for MSG_GETNEXT
  Source* defaultSource = nullptr;
  // Notification threads to join once the lock is released.
  std::vector<std::thread> retired;

  ~Manager()
  {
    for (auto& t : retired)
      t.detach();
  }
};

Manager& manager()
{
  static Manager m;
  return m;
}

const char* name(const char* const* names, const TW_UINT16* values, size_t n, unsigned v,
                 char* buf)
{
  for (size_t i = 0; i < n; ++i)
    if (values[i] == v)
      return names[i];
  std::snprintf(buf, 16, "0x%04x", v);
  return buf;
}

// One trace line per triplet: "DG DAT MSG -> rc [cc]".
void trace(TW_IDENTITY* dest, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_UINT16 rc,
           TW_UINT16 cc)
{
  const char* path = std::getenv("TOLM_DSM_TRACE");
  if (!path || !*path)
    return;
  static const char* const datNames[] = {
      "DAT_NULL", "DAT_CAPABILITY", "DAT_EVENT", "DAT_IDENTITY", "DAT_PARENT",
      "DAT_PENDINGXFERS", "DAT_SETUPMEMXFER", "DAT_STATUS", "DAT_USERINTERFACE",
      "DAT_XFERGROUP", "DAT_CALLBACK", "DAT_IMAGEINFO", "DAT_IMAGELAYOUT",
      "DAT_IMAGEMEMXFER", "DAT_IMAGENATIVEXFER", "DAT_ENTRYPOINT"};
  static const TW_UINT16 datValues[] = {
      DAT_NULL, DAT_CAPABILITY, DAT_EVENT, DAT_IDENTITY, DAT_PARENT, DAT_PENDINGXFERS,
      DAT_SETUPMEMXFER, DAT_STATUS, DAT_USERINTERFACE, DAT_XFERGROUP, DAT_CALLBACK,
      DAT_IMAGEINFO, DAT_IMAGELAYOUT, DAT_IMAGEMEMXFER, DAT_IMAGENATIVEXFER, DAT_ENTRYPOINT};
  static const char* const msgNames[] = {
      "MSG_GET", "MSG_GETCURRENT", "MSG_GETDEFAULT", "MSG_GETFIRST", "MSG_GETNEXT", "MSG_SET",
      "MSG_RESET", "MSG_QUERYSUPPORT", "MSG_OPENDSM", "MSG_CLOSEDSM", "MSG_OPENDS",
      "MSG_CLOSEDS", "MSG_USERSELECT", "MSG_DISABLEDS", "MSG_ENABLEDS", "MSG_PROCESSEVENT",
      "MSG_ENDXFER", "MSG_STOPFEEDER", "MSG_REGISTER_CALLBACK"};
  static const TW_UINT16 msgValues[] = {
      MSG_GET, MSG_GETCURRENT, MSG_GETDEFAULT, MSG_GETFIRST, MSG_GETNEXT, MSG_SET, MSG_RESET,
      MSG_QUERYSUPPORT, MSG_OPENDSM, MSG_CLOSEDSM, MSG_OPENDS, MSG_CLOSEDS, MSG_USERSELECT,
      MSG_DISABLEDS, MSG_ENABLEDS, MSG_PROCESSEVENT, MSG_ENDXFER, MSG_STOPFEEDER,
      MSG_REGISTER_CALLBACK};
  char b1[16], b2[16];
  FILE* f = std::fopen(path, "a");
  if (!f)
    return;
  std::fprintf(f, "%s %s %s %s -> %u", dest ? "DS" : "DSM",
               dg == DG_CONTROL ? "DG_CONTROL" : dg == DG_IMAGE ? "DG_IMAGE" : "DG_OTHER",
               name(datNames, datValues, sizeof datValues / sizeof *datValues, dat, b1),
               name(msgNames, msgValues, sizeof msgValues / sizeof *msgValues, msg, b2), rc);
  if (rc == TWRC_FAILURE)
    std::fprintf(f, " cc=%u", cc);
  std::fputc('\n', f);
  std::fclose(f);
}

std::vector<std::string> splitList(const char* s)
{
  std::vector<std::string> out;
  if (!s)
    return out;
  std::stringstream in(s);
  std::string part;
  while (std::getline(in, part, ':'))
    if (!part.empty())
      out.push_back(part);
  return out;
}

void buildSources(Manager& m)
{
  m.sources.clear();
  const char* faultWords = std::getenv("TOLM_DSM_FAULTS");
  Faults faults = Faults::parse(faultWords ? faultWords : "");
  const char* pages = std::getenv("TOLM_DSM_PAGES");
  auto feed = std::make_unique<VirtualFeed>(VirtualFeed::Config::parse(pages ? pages : ""),
                                            splitList(std::getenv("TOLM_DSM_FILES")));
  m.sources.push_back(std::make_unique<Source>(std::move(feed), "Tolm", "Virtual scanner",
                                               "Tolm Virtual Scanner", faults));
  m.sources.front()->identity.Id = 1;
  m.faults = faults;
  m.devicesListed = false;
  m.defaultSource = m.sources.front().get();
  m.next = 0;
}

// Lists the scanner devices after our own sources, the first time a request
// needs them (probing devices can take seconds; a job on the virtual
// scanner never waits for it). TOLM_DSM_SANE=0 leaves devices out.
void ensureDevices(Manager& m)
{
  if (m.devicesListed)
    return;
  m.devicesListed = true;
  const char* sane = std::getenv("TOLM_DSM_SANE");
  if (sane && std::string(sane) == "0")
    return;
  size_t first = m.sources.size();
  addSaneSources(m.sources, m.faults);
  for (size_t i = first; i < m.sources.size(); ++i)
    m.sources[i]->identity.Id = i + 1;
}

std::string productName(const TW_IDENTITY& id)
{
  size_t n = std::min<size_t>(id.ProductName[0], 32);
  return std::string(reinterpret_cast<const char*>(id.ProductName + 1), n);
}

// The condition code of the last failure, then cleared. Answered in every
// state, before the manager is open and after it closed too.
TW_UINT16 status(Manager& m, TW_MEMREF data)
{
  if (!data)
    return TWRC_FAILURE;
  static_cast<TW_STATUS*>(data)->ConditionCode = m.status;
  static_cast<TW_STATUS*>(data)->Data = 0;
  m.status = TWCC_SUCCESS;
  return TWRC_SUCCESS;
}

TW_UINT16 fail(Manager& m, TW_UINT16 cc)
{
  m.status = cc;
  return TWRC_FAILURE;
}

Source* findSource(Manager& m, const TW_IDENTITY* id, size_t* index = nullptr)
{
  if (!id)
    return nullptr;
  for (size_t i = 0; i < m.sources.size(); ++i)
    if (m.sources[i]->identity.Id == id->Id) {
      if (index)
        *index = i;
      return m.sources[i].get();
    }
  return nullptr;
}

TW_UINT16 managerEntry(Manager& m, TW_IDENTITY* origin, TW_IDENTITY* dest, TW_UINT32 dg,
                       TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data)
{
  if (dg != DG_CONTROL)
    return fail(m, TWCC_BADPROTOCOL);
  if (dat == DAT_PARENT) {
    if (msg == MSG_OPENDSM) {
      if (m.open)
        return fail(m, TWCC_SEQERROR);
      if (!origin)
        return fail(m, TWCC_BADVALUE);
      buildSources(m);
      m.open = true;
      origin->Id = 1000; // the application's id
      origin->SupportedGroups |= DF_DSM2;
      m.app = *origin;
      m.status = TWCC_SUCCESS;
      return TWRC_SUCCESS;
    }
    if (msg == MSG_CLOSEDSM) {
      if (!m.open)
        return fail(m, TWCC_SEQERROR);
      for (auto& s : m.sources)
        if (s->isOpen())
          return fail(m, TWCC_SEQERROR);
      m.sources.clear();
      endSane(); // the last source is closed
      m.open = false;
      return TWRC_SUCCESS;
    }
    return fail(m, TWCC_BADPROTOCOL);
  }
  if (dat == DAT_STATUS) {
    if (msg != MSG_GET || !data)
      return fail(m, TWCC_BADPROTOCOL);
    return status(m, data);
  }
  if (!m.open)
    return fail(m, TWCC_SEQERROR);

  switch (dat) {
  case DAT_ENTRYPOINT: {
    if (msg != MSG_GET || !data)
      return fail(m, TWCC_BADPROTOCOL);
    auto* ep = static_cast<TW_ENTRYPOINT*>(data);
    if (ep->Size < sizeof(TW_ENTRYPOINT))
      return fail(m, TWCC_BADVALUE);
    ep->DSM_Entry = DSM_Entry;
    ep->DSM_MemAllocate = dsmAllocate;
    ep->DSM_MemFree = dsmFree;
    ep->DSM_MemLock = dsmLock;
    ep->DSM_MemUnlock = dsmUnlock;
    return TWRC_SUCCESS;
  }
  case DAT_IDENTITY: {
    auto* id = static_cast<TW_IDENTITY*>(data);
    if (!id)
      return fail(m, TWCC_BADVALUE);
    switch (msg) {
    case MSG_GETDEFAULT:
      if (!m.defaultSource)
        return fail(m, TWCC_NODS);
      *id = m.defaultSource->identity;
      return TWRC_SUCCESS;
    case MSG_GETFIRST:
      m.next = 0;
      [[fallthrough]];
    case MSG_GETNEXT:
      if (m.next >= m.sources.size())
        ensureDevices(m);
      if (m.next >= m.sources.size())
        return TWRC_ENDOFLIST;
      *id = m.sources[m.next++]->identity;
      return TWRC_SUCCESS;
    case MSG_USERSELECT: {
      // No dialogue: the source named in the environment, else the default.
      const char* want = std::getenv("TOLM_DSM_SOURCE");
      Source* pick = m.defaultSource;
      if (want && *want) {
        pick = nullptr;
        if (productName(m.sources.front()->identity) != want)
          ensureDevices(m);
        for (auto& s : m.sources)
          if (productName(s->identity) == want)
            pick = s.get();
        if (!pick)
          return TWRC_CANCEL;
      }
      if (!pick)
        return fail(m, TWCC_NODS);
      *id = pick->identity;
      return TWRC_SUCCESS;
    }
    case MSG_OPENDS: {
      if (id->Id && !findSource(m, id))
        ensureDevices(m);
      Source* s = id->Id ? findSource(m, id) : m.defaultSource;
      if (!s)
        return fail(m, TWCC_NODS);
      TW_UINT16 cc = TWCC_SUCCESS;
      TW_UINT16 rc = s->open(cc);
      if (rc != TWRC_SUCCESS)
        return fail(m, cc);
      *id = s->identity;
      s->appIdentity = m.app;
      return TWRC_SUCCESS;
    }
    case MSG_CLOSEDS: {
      Source* s = findSource(m, id);
      if (!s || !s->isOpen())
        return fail(m, s ? TWCC_SEQERROR : TWCC_NODS);
      if (s->currentState() > 4)
        return fail(m, TWCC_SEQERROR);
      s->close();
      return TWRC_SUCCESS;
    }
    default:
      return fail(m, TWCC_BADPROTOCOL);
    }
  }
  case DAT_CALLBACK: {
    if (msg != MSG_REGISTER_CALLBACK || !data)
      return fail(m, TWCC_BADPROTOCOL);
    Source* s = findSource(m, dest);
    if (!s || !s->isOpen())
      return fail(m, TWCC_BADDEST);
    s->setCallback(reinterpret_cast<TWAINCALLBACKPROC>(static_cast<TW_CALLBACK*>(data)->CallBackProc));
    return TWRC_SUCCESS;
  }
  default:
    return fail(m, TWCC_BADPROTOCOL);
  }
}

} // namespace

void retireThread(std::thread&& t) { manager().retired.push_back(std::move(t)); }

} // namespace twaindsm

using namespace twaindsm;

extern "C" __attribute__((visibility("default"))) TW_UINT16
DSM_Entry(TW_IDENTITY* origin, TW_IDENTITY* dest, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg,
          TW_MEMREF data)
{
  Manager& m = manager();
  std::vector<std::thread> finished;
  std::unique_lock<std::mutex> lock(m.mutex);
  TW_UINT16 rc;
  TW_UINT16 cc = TWCC_SUCCESS;
  try {
    // Triplets for a source: its status, its callback, and everything that
    // is not the manager's own business. A status asked of a source that is
    // gone (the manager closed) is the manager's.
    const bool forManager = !dest || dat == DAT_IDENTITY || dat == DAT_PARENT ||
                            dat == DAT_ENTRYPOINT || dat == DAT_CALLBACK ||
                            (dat == DAT_STATUS && !m.open);
    if (forManager) {
      rc = managerEntry(m, origin, dest, dg, dat, msg, data);
      cc = m.status;
    } else {
      Source* s = m.open ? findSource(m, dest) : nullptr;
      if (!s) {
        rc = fail(m, m.open ? TWCC_BADDEST : TWCC_SEQERROR);
        cc = m.status;
      } else if (dg == DG_CONTROL && dat == DAT_STATUS) {
        // a source's status: what its last failure left
        if (msg != MSG_GET || !data) {
          rc = TWRC_FAILURE;
          cc = TWCC_BADPROTOCOL;
        } else {
          static_cast<TW_STATUS*>(data)->ConditionCode = m.status;
          static_cast<TW_STATUS*>(data)->Data = 0;
          m.status = TWCC_SUCCESS;
          rc = TWRC_SUCCESS;
        }
      } else {
        rc = s->entry(dg, dat, msg, data, cc);
        if (rc == TWRC_FAILURE)
          m.status = cc;
      }
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "source manager: %s\n", e.what());
    m.status = cc = TWCC_BUMMER;
    rc = TWRC_FAILURE;
  }
  trace(dest, dg, dat, msg, rc, cc);
  finished.swap(m.retired);
  lock.unlock();
  // Outside the lock: a notification thread may be waiting for it. A
  // procedure that called us from its own notification thread is not
  // waited for by itself.
  for (auto& t : finished) {
    if (t.get_id() == std::this_thread::get_id())
      t.detach();
    else
      t.join();
  }
  return rc;
}
